// quarvend: decodes an ostrevic file to standard output and, when a second
// name is given, to that file too, with DOS text conventions on both.
//
// main runs the steps of a run in their fixed order. It alone decides what the
// user sees and the exit status; the modules it calls only return results.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/encoded_reader.h"
#include "io/dos_text_writer.h"
#include "io/run_files.h"
#include "pipeline/decode_input.h"
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
constexpr std::string_view kNoOptions =
    "\nquarvend takes no options; its manual (man quarvend, or quarvend.html in the "
    "Windows zip) describes it.\n";
constexpr std::string_view kNoWildcards =
    "\nThe console does not expand wildcards; the for loop in README.txt names each "
    "file in turn.\n";
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

// Writes a message made of `pieces` into the output, which allocates nothing.
void write(DosTextWriter& output, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) output.write(piece);
}

// Ends the run early with a message. Like every way out, it writes out what
// is pending on standard output first. The message is then the run's only
// output, so its loss is a loss of output.
int closeWith(DosTextWriter& output, std::size_t console,
              std::initializer_list<std::string_view> message, int status) {
  write(output, message);
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
  closeWith(output, output.addSink(consoleSink), {kNoMemory}, kRefused);
  std::_Exit(kRefused);
}

// What may help the user on from an input name that cannot be opened: that
// there are no options, for a name that looks like one (a dash first, or a
// slash and one character, as in /?), or else that nothing expands a wildcard.
std::string_view hintFor(const platform::NativeName& name) {
  if ((!name.empty() && name[0] == '-') || (name.size() == 2 && name[0] == '/'))
    return kNoOptions;
  const bool wildcard =
      std::any_of(name.begin(), name.end(), [](auto c) { return c == '*' || c == '?'; });
  return platform::kWildcardsReachTheProgram && wildcard ? kNoWildcards : "";
}

// A code outside the table as the message shows it: its value, and whether
// that is only where its magnitude stopped counting. `buffer` holds the digits.
struct CodeWords {
  std::string_view value;
  std::string_view beyond;
};

CodeWords wordsFor(std::int64_t code, char (&buffer)[24]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, code).ptr;
  const std::string_view value(buffer, static_cast<std::size_t>(end - buffer));
  if (code == EncodedReader::kMagnitudeCap) return {value, " or more"};
  if (code == -std::int64_t{EncodedReader::kMagnitudeCap}) return {value, " or less"};
  return {value, ""};
}

// The names the run was given, shown as the user would write them.
struct Names {
  std::string input;
  std::string output;  // empty without an output file
};

// Ends a run whose files could not all be opened with its message. A name it
// cannot open may be a guess at an option, so the usage line follows, and a
// hint where one helps. Standard output that is the input refuses the run
// without a word, since every word would land in the input. Refusing the
// output file is told on standard output, so it lands after the file's
// content, which is otherwise unchanged.
int refuse(quarvend::RunFilesOpening opening, const Names& names,
           const platform::NativeName& inputWord, const std::string& reason,
           DosTextWriter& output, std::size_t console) {
  using Opening = quarvend::RunFilesOpening;
  const std::string_view in = names.input, out = names.output;
  switch (opening) {
    case Opening::kInputIsStandardOutput:
      return kRefused;
    case Opening::kInputCannotOpen:
      return closeWith(output, console,
                       {"\nThe input file ", in, " cannot be opened: ", reason, ".\n",
                        kUsage, hintFor(inputWord)},
                       kRefused);
    case Opening::kInputUntellable:
      return closeWith(output, console,
                       {"\nThe input file ", in,
                        " cannot be told apart from standard output: ", reason, ".\n"},
                       kRefused);
    case Opening::kOutputCannotCreate:
      return closeWith(output, console,
                       {"\nThe output file ", out, " cannot be created: ", reason, ".\n"},
                       kRefused);
    case Opening::kOutputIsInput:
      return closeWith(output, console,
                       {"\nThe input file ", in, " and the output file ", out,
                        " are the same file.\n"},
                       kRefused);
    case Opening::kOutputIsStandardOutput:
      return closeWith(output, console,
                       {"\nThe output file ", out,
                        " is standard output as well; nothing was decoded.\n"},
                       kRefused);
    case Opening::kInputCannotRead:
    case Opening::kOpened:                // does not come here
    case Opening::kStandardOutputClosed:  // does not come here
      break;
  }
  return closeWith(output, console,
                   {"\nThe input file ", in, " cannot be read: ", reason, ".\n"},
                   kRefused);
}

// Finds the start marker and decodes the number list, a block at a time,
// until the list ends, a read fails, or no output takes the text any more, on
// the threads that decodeInput chooses from what the platform says of the
// input and the machine.
quarvend::InputEnd decode(const quarvend::RunFiles& files, EncodedReader& reader,
                          DosTextWriter& output, std::string& reason) {
  quarvend::DecodeSettings settings;
  settings.input.regularFile = platform::isRegularFile(files.input, settings.input.size);
  settings.input.processors = platform::usableProcessors();
  quarvend::FileSource input(files.input);
  return decodeInput(input, files.firstSize, reader, output, decodeBuffers, settings,
                     reason);
}

// The messages after decoding, and the status. The output file's text is
// complete: it is closed before any message. Without an output file,
// standard output holds the only copy of the text, so its failure counts, as
// does the input's close.
int finish(const EncodedReader& reader, bool readFailed, const quarvend::RunFiles& files,
           const Names& names, std::string& reason, DosTextWriter& output,
           std::size_t console, const std::size_t* file) {
  const bool fileComplete = !file || output.close(*file);
  if (reader.end() == EncodedReader::End::kNotOstrevic)
    return closeWith(output, console, {kNotOstrevic}, kSuccess);
  if (reader.end() == EncodedReader::End::kCodeOutOfRange) {
    char digits[24];
    const CodeWords code = wordsFor(reader.outOfRangeCode(), digits);
    write(output, {"\nThe input file holds the code ", code.value, code.beyond,
                   ", outside 0 to 255; decoding stopped there.\n"});
  }
  if (readFailed)
    write(output, {"\nThe input file ", names.input, " cannot be read: ", reason, ".\n"});
  const bool inputClosed = platform::closeFile(files.input, reason);
  bool outputComplete = fileComplete;
  if (file) {
    write(output, {"\nYour 'quarvended' (decoded) text is in ", names.output, "\n"});
    if (!fileComplete) {
      write(output, {"\nThe output file ", names.output,
                     " could not be written in full: ", output.reason(*file), ".\n"});
    }
    output.close(console);
  } else {
    outputComplete = output.close(console) && inputClosed;
  }
  if (!outputComplete) return kOutputLost;
  // A failed read leaves the list unended.
  return reader.end() == EncodedReader::End::kEndOfList ? kSuccess : kRefused;
}

int run(int argc, char** argv) {
  std::set_new_handler(cannotStart);
  // A reader that leaves early fails a write rather than ending the run: the
  // output file still gets the whole text, and without one the status tells
  // the loss of the only copy.
  const platform::StandardStreams streams =
      platform::prepareStandardStreams(platform::BrokenPipe::kFailsTheWrite);
  const std::vector<platform::NativeName> words = platform::commandLine(argc, argv);
  // Every piece of memory the run needs is taken here, before any file is
  // touched, so that a lack of it can harm nothing.
  const bool withFile = words.size() == 2;
  const Names names{words.empty() ? "" : platform::displayName(words[0]),
                    withFile ? platform::displayName(words[1]) : ""};
  std::string reason;
  reason.reserve(platform::kReasonCapacity);
  DosTextWriter output(textBuffer, kTextSize);
  FileSink consoleSink(platform::kStandardOutput);
  const std::size_t console = output.addSink(consoleSink);
  if (!streams.outputOpen) output.markFailed(console);

  // 1. No file named: banner and usage.
  if (words.empty())
    return closeWith(output, console, {kBannerFirst, kBannerSecond, kUsage}, kSuccess);
  // 2. The symbol table is built by the compiler (kCodeOutputs).
  // 3 and 4. The input, which is only ever read, and its first block; then
  //    the output file, only with exactly two names, which gets the decoded
  //    text only.
  quarvend::RunFiles files;
  const quarvend::RunFilesOpening opening = quarvend::openRunFiles(
      &words[0], withFile ? &words[1] : nullptr, quarvend::StandardOutputUse::kWritten,
      decodeBuffers.first, quarvend::kBlockSize, files, reason);
  if (opening != quarvend::RunFilesOpening::kOpened)
    return refuse(opening, names, words[0], reason, output, console);
  // Every piece of memory the run needs is had by now; a thread that cannot be
  // started is done without.
  std::set_new_handler(nullptr);
  std::optional<FileSink> fileSink;
  std::size_t file = 0;
  if (withFile) file = output.addSink(fileSink.emplace(files.output));
  // 5 and 6. The text.
  EncodedReader reader;
  const bool readFailed =
      decode(files, reader, output, reason) == quarvend::InputEnd::kReadFailed;
  // 7 to 9. Close the input, tell how it went, and exit.
  return finish(reader, readFailed, files, names, reason, output, console,
                withFile ? &file : nullptr);
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
