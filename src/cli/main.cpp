// quarvend: decodes an ostrevic file to standard output and, when a second
// name is given, to that file too, with DOS text conventions on both.
//
// main runs the steps of a run in their fixed order. It alone decides what the
// user sees and the exit status; the modules it calls only return results.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/dos_text_writer.h"
#include "decode/encoded_reader.h"
#include "platform/platform.h"

namespace {

using quarvend::DosTextWriter;
using quarvend::EncodedReader;
using quarvend::FileSink;
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

// The input is read this much at a time; the text buffer takes what one block
// can decode to on top of a block's worth, so that every flush is large.
constexpr std::size_t kBlockSize = std::size_t{128} << 10;
constexpr std::size_t kTextSize = kBlockSize + EncodedReader::maxOutput(kBlockSize);

// Static, so that every buffer of the run exists before any file is touched.
unsigned char inputBlock[kBlockSize];
unsigned char textBuffer[kTextSize];

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
int endWith(DosTextWriter& output, std::size_t console, std::string_view message,
            int status) {
  output.write(message);
  output.close(console);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const bool consoleOpenAtStart = platform::prepareStandardStreams();
  const std::vector<platform::NativeName> names = platform::commandLine(argc, argv);
  DosTextWriter output(textBuffer, kTextSize);
  FileSink consoleSink(platform::kStandardOutput);
  const std::size_t console = output.addSink(consoleSink);
  if (!consoleOpenAtStart) output.markFailed(console);

  // 1. No file named: banner and usage.
  if (names.empty()) {
    output.write(kBannerFirst);
    output.write(kBannerSecond);
    return endWith(output, console, kUsage, kSuccess);
  }

  // 2. The symbol table is built by the compiler (kCodeOutputs).

  // 3. The input file; it is only ever read.
  std::string reason;
  int inputFd = -1;
  if (!platform::openForReading(names[0], inputFd, reason)) {
    return endWith(output, console, inputCannotBeOpened(names[0], reason), kRefused);
  }

  // 4. The output file, only with exactly two names. It is opened without
  //    being emptied, compared with the input, and only then emptied, so that
  //    naming one file twice cannot destroy it. It gets the decoded text only.
  const bool withFile = names.size() == 2;
  int outputFd = -1;
  std::optional<FileSink> fileSink;
  std::size_t file = 0;
  if (withFile) {
    if (!platform::openForWriting(names[1], outputFd, reason)) {
      return endWith(output, console, outputCannotBeCreated(names[1], reason), kRefused);
    }
    bool same = false;
    if (!platform::sameFile(inputFd, outputFd, same, reason)) same = false;
    if (same) return endWith(output, console, kSameFile, kRefused);
    if (!platform::emptyFile(outputFd, reason)) {
      return endWith(output, console, outputCannotBeCreated(names[1], reason), kRefused);
    }
    file = output.addSink(fileSink.emplace(outputFd));
  }

  // Feeds the reader the input's next block, or its end; a read error counts
  // as the end.
  EncodedReader reader;
  const auto decodeNextBlock = [&] {
    std::size_t got = 0;
    if (!platform::readSome(inputFd, inputBlock, kBlockSize, got, reason)) got = 0;
    if (got == 0) {
      output.commit(reader.finish(output.reserve(quarvend::kMaxFormSize)));
    } else {
      output.commit(
          reader.feed(inputBlock, got, output.reserve(EncodedReader::maxOutput(got))));
    }
  };

  // 5. The start marker; without it nothing is decoded and the output stays empty.
  while (!reader.pastMarker() && !reader.ended()) decodeNextBlock();
  if (reader.end() == EncodedReader::End::kNotOstrevic) {
    if (withFile) output.close(file);
    return endWith(output, console, kNotOstrevic, kSuccess);
  }

  // 6. Decode the number list.
  while (!reader.ended()) decodeNextBlock();
  const bool outOfRange = reader.end() == EncodedReader::End::kCodeOutOfRange;

  // 7. Close the input.
  const bool inputClosed = platform::closeFile(inputFd, reason);

  // 8. The output file's text is complete: close it, then the messages. Its
  //    close decides the status; without an output file, standard output
  //    holds the only copy of the text, so its failure counts as well as the
  //    input's close.
  bool outputComplete;
  if (withFile) {
    outputComplete = output.close(file);
    if (outOfRange) output.write(kCodeOutOfRange);
    output.write(closingMessage(names[1]));
    output.close(console);
  } else {
    if (outOfRange) output.write(kCodeOutOfRange);
    outputComplete = output.close(console) && inputClosed;
  }

  // 9. Exit.
  if (!outputComplete) return kFailedClose;
  return outOfRange ? kRefused : kSuccess;
}
