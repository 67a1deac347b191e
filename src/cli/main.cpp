// quarvend: decodes an ostrevic file to standard output and, when a second
// name is given, to that file too, with DOS text conventions on both.
//
// main runs the steps of a run in their fixed order. It alone decides what the
// user sees and the exit status; the modules it calls only return results.

#include <cstdlib>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decode_input.h"
#include "decode/encoded_reader.h"
#include "io/dos_text_writer.h"
#include "io/output_file.h"
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
constexpr std::string_view kNoMemory =
    "\nquarvend cannot start: Cannot allocate memory.\n";

constexpr int kSuccess = 0;
// A file could not be used, or its text could not all be read.
constexpr int kRefused = 1;
// Some output did not reach its file.
constexpr int kOutputLost = -1;

// The text buffer takes what one block can decode to on top of a block's
// worth, so that every flush is large.
constexpr std::size_t kTextSize =
    quarvend::kBlockSize +
    EncodedReader::maxOutput(quarvend::kMaxWindow + quarvend::kBlockSize);

// Static, so that the run's buffers exist before it touches any file.
quarvend::DecodeBuffers decodeBuffers;
unsigned char textBuffer[kTextSize];

// Writes a message made of `pieces`, which allocates nothing.
void tell(DosTextWriter& output, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) output.write(piece);
}

// Ends the run early with a message. Like every way out, it writes out what
// is pending on standard output first. The message is then the run's only
// output, so its loss is a loss of output.
int endWith(DosTextWriter& output, std::size_t console,
            std::initializer_list<std::string_view> message, int status) {
  tell(output, message);
  return output.close(console) ? status : kOutputLost;
}

// Ends the run for want of memory at its start, when no file has been touched
// yet: a new_handler, since with that little memory the exception that would
// carry the failure cannot be had either. It allocates nothing unless its
// message cannot be written.
[[noreturn]] void cannotStart() {
  // Should a failing write still want memory for its reason, the run ends by
  // the exception instead of coming back here.
  std::set_new_handler(nullptr);
  DosTextWriter output(textBuffer, kTextSize, DosTextWriter::Reasons::kUnreserved);
  FileSink consoleSink(platform::kStandardOutput);
  endWith(output, output.addSink(consoleSink), {kNoMemory}, kRefused);
  std::_Exit(kRefused);
}

int run(int argc, char** argv) {
  std::set_new_handler(cannotStart);
  // A reader that leaves early fails a write rather than ending the run: the
  // output file still gets the whole text, and without one the status tells
  // the loss of the only copy.
  const platform::StandardStreams streams =
      platform::prepareStandardStreams(platform::BrokenPipe::kFailsTheWrite);
  const std::vector<platform::NativeName> names = platform::commandLine(argc, argv);
  // Every piece of memory the run needs is taken here, before any file is
  // touched, so that a lack of it can harm nothing.
  const std::string inputName = names.empty() ? "" : platform::displayName(names[0]);
  const std::string outputName = names.size() == 2 ? platform::displayName(names[1]) : "";
  std::string reason;
  reason.reserve(quarvend::kReasonCapacity);
  DosTextWriter output(textBuffer, kTextSize);
  FileSink consoleSink(platform::kStandardOutput);
  const std::size_t console = output.addSink(consoleSink);
  if (!streams.outputOpen) output.markFailed(console);

  // 1. No file named: banner and usage.
  if (names.empty())
    return endWith(output, console, {kBannerFirst, kBannerSecond, kUsage}, kSuccess);

  // 2. The symbol table is built by the compiler (kCodeOutputs).

  // 3. The input file; it is only ever read. A name it cannot open may be a
  //    guess at an option, so the usage line follows. Standard output must
  //    not be the input itself: the run is refused without a word, since every
  //    word would land in the input. The first block is read before the
  //    output file is touched.
  int inputFd = -1;
  if (!platform::openForReading(names[0], inputFd, reason)) {
    return endWith(
        output, console,
        {"\nThe input file ", inputName, " cannot be opened: ", reason, ".\n", kUsage},
        kRefused);
  }
  bool same = true;
  if (!platform::sameFile(inputFd, platform::kStandardOutput, same, reason)) {
    return endWith(output, console,
                   {"\nThe input file ", inputName,
                    " cannot be told apart from standard output: ", reason, ".\n"},
                   kRefused);
  }
  if (same) return kRefused;
  quarvend::FileSource input(inputFd);
  std::size_t got = 0;
  if (!input.read(decodeBuffers.first, quarvend::kBlockSize, got, reason)) {
    return endWith(output, console,
                   {"\nThe input file ", inputName, " cannot be read: ", reason, ".\n"},
                   kRefused);
  }

  // 4. The output file, only with exactly two names. It is emptied only once
  //    it is known to be neither the input, so that naming one file twice
  //    cannot destroy it, nor standard output, which would write the text
  //    into it twice. That refusal is told on standard output, so it lands
  //    after the file's content, which is otherwise left as it was. The file
  //    gets the decoded text only.
  const bool withFile = names.size() == 2;
  std::optional<FileSink> fileSink;
  std::size_t file = 0;
  if (withFile) {
    int outputFd = -1;
    switch (quarvend::openOutputFile(names[1], inputFd, platform::kStandardOutput,
                                     outputFd, reason)) {
      case quarvend::OutputFileOpening::kOpened:
        break;
      case quarvend::OutputFileOpening::kCannotCreate:
        return endWith(
            output, console,
            {"\nThe output file ", outputName, " cannot be created: ", reason, ".\n"},
            kRefused);
      case quarvend::OutputFileOpening::kSameAsInput:
        return endWith(output, console, {kSameFile}, kRefused);
      case quarvend::OutputFileOpening::kSameAsStandardOutput:
        return endWith(output, console,
                       {"\nThe output file ", outputName,
                        " is standard output as well; nothing was decoded.\n"},
                       kRefused);
    }
    file = output.addSink(fileSink.emplace(outputFd));
  }

  // Every piece of memory the run needs is had by now; a thread that cannot be
  // started is done without.
  std::set_new_handler(nullptr);

  // 5 and 6. Find the start marker and decode the number list, a block at a
  //    time, until the list ends, a read fails, or no output takes the text
  //    any more, on the threads that decodeInput chooses from what the
  //    platform says of the input and the machine.
  quarvend::DecodeSettings settings;
  settings.input.regularFile = platform::isRegularFile(inputFd, settings.input.size);
  settings.input.processors = platform::usableProcessors();
  EncodedReader reader;
  const quarvend::InputEnd inputEnd =
      decodeInput(input, got, reader, output, decodeBuffers, settings, reason);
  const bool readFailed = inputEnd == quarvend::InputEnd::kReadFailed;
  // The output file's text is complete: it is closed before any message.
  const bool fileComplete = !withFile || output.close(file);
  if (reader.end() == EncodedReader::End::kNotOstrevic) {
    return endWith(output, console, {kNotOstrevic}, kSuccess);
  }
  if (reader.end() == EncodedReader::End::kCodeOutOfRange)
    tell(output, {kCodeOutOfRange});
  if (readFailed) {
    tell(output, {"\nThe input file ", inputName, " cannot be read: ", reason, ".\n"});
  }

  // 7. Close the input.
  const bool inputClosed = platform::closeFile(inputFd, reason);

  // 8. The closing message, and word of any text the output file did not get.
  //    Without an output file, standard output holds the only copy of the
  //    text, so its failure counts, as does the input's close.
  bool outputComplete = fileComplete;
  if (withFile) {
    tell(output, {"\nYour 'quarvended' (decoded) text is in ", outputName, "\n"});
    if (!fileComplete) {
      tell(output, {"\nThe output file ", outputName,
                    " could not be written in full: ", output.reason(file), ".\n"});
    }
    output.close(console);
  } else {
    outputComplete = output.close(console) && inputClosed;
  }

  // 9. Exit.
  if (!outputComplete) return kOutputLost;
  const bool allDecoded = !readFailed && reader.end() == EncodedReader::End::kEndOfList;
  return allDecoded ? kSuccess : kRefused;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
