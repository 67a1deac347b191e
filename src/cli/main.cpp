// quarvend: decodes an ostrevic file to standard output and, when a second
// name is given, to that file too, with DOS text conventions on both.
//
// main runs the steps of a run in their fixed order. It alone decides what the
// user sees and the exit status; the modules it calls only return results.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decode_loop.h"
#include "cli/dos_text_writer.h"
#include "decode/encoded_reader.h"
#include "decode/symbol_table.h"
#include "platform/file_io.h"

namespace {

using quarvend::DecodeEnd;
using quarvend::DosTextWriter;
using quarvend::EncodedReader;
using quarvend::SymbolTable;
namespace platform = quarvend::platform;

constexpr std::string_view kBannerFirst = "\nquarvend - 4/6/2007";
constexpr std::string_view kBannerSecond = " - an 'ostrevic trellimator'\n";
constexpr std::string_view kUsage = "\nUsage: quarvend <inputfile> [<outputfile>]\n";
constexpr std::string_view kNotOstrevic =
    "\nThe input file is not a valid ostrevic file.\n";
constexpr std::string_view kSameFile =
    "\nThe input file and the output file are the same file.\n";
constexpr std::string_view kCodeOutOfRange =
    "\nThe input file holds a code outside 0 to 255; decoding stopped there.\n";

constexpr int kSuccess = 0;
constexpr int kRefused = 1;  // a file could not be used, or the input held a bad code
constexpr int kFailedClose = -1;  // some output did not reach its file

std::string inputCannotBeOpened(const platform::NativeName& name,
                                const std::string& why) {
  return "\nThe input file " + platform::displayName(name) + " cannot be opened: " + why +
         ".\n";
}

std::string outputCannotBeCreated(const platform::NativeName& name,
                                  const std::string& why) {
  return "\nThe output file " + platform::displayName(name) +
         " cannot be created: " + why + ".\n";
}

std::string closingMessage(const platform::NativeName& outputName) {
  return "\nYour 'quarvended' (decoded) text is in " + platform::displayName(outputName) +
         "\n";
}

// Ends the run early with a message. Like every way out, it writes out what
// is pending on standard output first.
int endWith(DosTextWriter& console, std::string_view message, int status) {
  console.write(message);
  console.close();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const bool consoleOpenAtStart = platform::prepareStandardStreams();
  const std::vector<platform::NativeName> names = platform::commandLine(argc, argv);
  platform::FileSink consoleSink(platform::kStandardOutput);
  DosTextWriter console(consoleSink);
  if (!consoleOpenAtStart) console.markFailed();

  // 1. No file named: banner and usage.
  if (names.empty()) {
    console.write(kBannerFirst);
    console.write(kBannerSecond);
    return endWith(console, kUsage, kSuccess);
  }

  // 2. The symbol table.
  SymbolTable table;
  table.build();

  // 3. The input file; it is only ever read.
  std::string reason;
  const int inputFd = platform::openForReading(names[0], reason);
  if (inputFd < 0) {
    return endWith(console, inputCannotBeOpened(names[0], reason), kRefused);
  }
  platform::FileSource input(inputFd);
  EncodedReader reader(input);

  // 4. The output file, only with exactly two names. It is opened without
  //    being emptied, compared with the input, and only then emptied, so that
  //    naming one file twice cannot destroy it.
  std::optional<platform::FileSink> outputSink;
  std::optional<DosTextWriter> output;
  if (names.size() == 2) {
    const int outputFd = platform::openForWriting(names[1], reason);
    if (outputFd < 0) {
      return endWith(console, outputCannotBeCreated(names[1], reason), kRefused);
    }
    if (platform::sameFile(inputFd, outputFd)) {
      return endWith(console, kSameFile, kRefused);
    }
    if (!platform::emptyFile(outputFd, reason)) {
      return endWith(console, outputCannotBeCreated(names[1], reason), kRefused);
    }
    outputSink.emplace(outputFd);
    output.emplace(*outputSink);
  }

  // 5. The start marker; without it nothing is decoded and the output stays empty.
  if (!reader.findStartMarker()) return endWith(console, kNotOstrevic, kSuccess);

  // 6. Decode.
  const DecodeEnd end =
      quarvend::decodeAll(reader, table, output ? &*output : nullptr, console);
  if (end == DecodeEnd::kCodeOutOfRange) console.write(kCodeOutOfRange);

  // 7. Close the input.
  const int inputClosed = reader.close();

  // 8. Closing message and the output file's close, which then decides the
  //    status; without an output file, standard output holds the only copy of
  //    the text, so its failure counts as well as the input's close.
  int finalClose;
  if (output) {
    console.write(closingMessage(names[1]));
    finalClose = output->close();
    console.close();
  } else {
    const int consoleClosed = console.close();
    finalClose = consoleClosed != 0 ? kFailedClose : inputClosed;
  }

  // 9. Exit.
  if (finalClose != 0) return kFailedClose;
  return end == DecodeEnd::kCodeOutOfRange ? kRefused : kSuccess;
}
