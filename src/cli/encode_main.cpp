// quarvend-encode: encodes a text as an ostrevic file, from a file or standard
// input to a file or standard output.
//
// main runs the steps of a run in their fixed order. It alone decides what the
// user sees and the exit status; the modules it calls only return results.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encode/text_encoder.h"
#include "io/byte_source.h"
#include "io/dos_text_writer.h"
#include "io/run_files.h"
#include "pipeline/read_ahead.h"
#include "platform/platform.h"

namespace {

using quarvend::TextEncoder;
namespace platform = quarvend::platform;

constexpr std::string_view kProgram = "quarvend-encode: ";
constexpr std::string_view kUsage = "Usage: quarvend-encode [<textfile> [<ostfile>]]\n";
constexpr std::string_view kHelp =
    "Encodes a text as an ostrevic file.\n"
    "\n"
    "With no <textfile>, or when it is -, the text is read from standard input.\n"
    "With no <ostfile>, or when it is -, the file goes to standard output.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "  --         end the options: a name after it may start with -\n";
constexpr std::string_view kVersion = "quarvend-encode " QUARVEND_VERSION "\n";

constexpr int kSuccess = 0;
// The text holds a byte without a code, or a file could not be opened, read
// or written in full.
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

constexpr std::size_t kBlockSize = quarvend::ReadAheadBuffers::kPieceSize;

// Static, so that the run's buffers exist before it touches any file.
unsigned char textBlock[kBlockSize];
// Where each thread encodes a block, so that its output stays in the cache of
// the processor it runs on, and goes out from there without a copy.
unsigned char blockOutput[quarvend::ReadAhead::kWorkers]
                         [TextEncoder::maxOutput(kBlockSize)];
// The writer's own buffer, for what is not a block's encoding.
unsigned char fileBuffer[4096];
quarvend::ReadAheadBuffers readAheadBuffers;
std::string message;

// Writes `text` to standard error, where a failure has nowhere to be told.
void toStandardError(std::string_view text) {
  std::string ignored;
  platform::writeAll(platform::kStandardError,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                     ignored);
}

// Writes `pieces` to standard error as one message, after the program's name.
void complain(std::initializer_list<std::string_view> pieces) {
  message.assign(kProgram);
  for (std::string_view piece : pieces) message.append(piece);
  message += '\n';
  toStandardError(message);
}

// Ends the run for want of memory at its start, when nothing has been touched
// yet: a new_handler, since with that little memory the exception that would
// carry the failure cannot be had either. It allocates nothing unless its
// message cannot be written.
[[noreturn]] void cannotStart() {
  // Should a failing write still want memory for its reason, the run ends by
  // the exception instead of coming back here.
  std::set_new_handler(nullptr);
  for (std::string_view piece :
       {kProgram, std::string_view("cannot start: "),
        std::string_view(std::strerror(ENOMEM)), std::string_view("\n")}) {
    toStandardError(piece);
  }
  std::_Exit(kFailed);
}

// Writes `text` to standard output and closes it; false, with a message, when
// it does not all arrive.
bool printAndClose(std::string_view text, bool standardOutputOpen, std::string& reason) {
  if (!standardOutputOpen) {
    complain({"cannot write standard output: ", std::strerror(EBADF)});
    return false;
  }
  if (platform::writeAll(platform::kStandardOutput,
                         reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                         reason) &&
      platform::closeFile(platform::kStandardOutput, reason)) {
    return true;
  }
  complain({"cannot write standard output: ", reason});
  return false;
}

// Whether `word` is the ASCII text `ascii`.
bool isWord(const platform::NativeName& word, std::string_view ascii) {
  return std::equal(word.begin(), word.end(), ascii.begin(), ascii.end(),
                    [](auto a, char b) { return a == static_cast<unsigned char>(b); });
}

struct Arguments {
  enum class Action { kEncode, kHelp, kVersion, kUsageError } action = Action::kEncode;
  std::optional<platform::NativeName> text;  // none: standard input
  std::optional<platform::NativeName> file;  // none: standard output
  platform::NativeName wrong;                // for kUsageError: the word at fault
  bool tooManyNames = false;                 // for kUsageError: it is a third name
};

// Reads the command line: options until `--`, then up to two names, of which
// `-` stands for the standard stream.
Arguments parse(const std::vector<platform::NativeName>& words) {
  Arguments arguments;
  std::vector<const platform::NativeName*> names;
  bool options = true;
  for (const platform::NativeName& word : words) {
    if (options && isWord(word, "--")) {
      options = false;
    } else if (options && isWord(word, "--help")) {
      arguments.action = Arguments::Action::kHelp;
      return arguments;
    } else if (options && isWord(word, "--version")) {
      arguments.action = Arguments::Action::kVersion;
      return arguments;
    } else if (const bool option = options && word.size() > 1 && word[0] == '-';
               option || names.size() == 2) {
      arguments.action = Arguments::Action::kUsageError;
      arguments.wrong = word;
      arguments.tooManyNames = !option;
      return arguments;
    } else {
      names.push_back(&word);
    }
  }
  if (names.size() > 0 && !isWord(*names[0], "-")) arguments.text = *names[0];
  if (names.size() > 1 && !isWord(*names[1], "-")) arguments.file = *names[1];
  return arguments;
}

// What a message says of a byte without a code, after its value: its name
// where it has one, and a hint where one helps.
struct ByteWords {
  std::string_view name;
  std::string_view hint;
};

ByteWords wordsFor(unsigned char byte) {
  switch (byte) {
    case '\b':
      return {" (backspace)", ""};
    case '\t':
      return {" (tab)", "; expand(1) turns tabs into spaces"};
    case '\v':
      return {" (vertical tab)", ""};
    case '\f':
      return {" (form feed)", ""};
    case '\r':
      return {" (carriage return)", "; it is taken only before a line feed"};
    case 27:
      return {" (escape)", ""};
    case 127:
      return {" (delete)", ""};
  }
  static char control[] = " (Ctrl-?)";
  if (byte >= 32) return {};
  control[7] = static_cast<char>('@' + byte);
  return {control, ""};
}

// `value` in decimal, in buffer, which has room for any 64-bit value.
std::string_view decimal(std::uint64_t value, char (&buffer)[20]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return {buffer, static_cast<std::size_t>(end - buffer)};
}

// Answers --help, --version or a command line it cannot take.
int answer(const Arguments& arguments, bool standardOutputOpen, std::string& reason) {
  switch (arguments.action) {
    case Arguments::Action::kHelp:
      return printAndClose(std::string(kUsage) + std::string(kHelp), standardOutputOpen,
                           reason)
                 ? kSuccess
                 : kFailed;
    case Arguments::Action::kVersion:
      return printAndClose(kVersion, standardOutputOpen, reason) ? kSuccess : kFailed;
    default: {  // kUsageError; kEncode does not come here
      const std::string wrong = platform::displayName(arguments.wrong);
      complain(
          {arguments.tooManyNames ? "one name too many: " : "unknown option ", wrong});
      toStandardError(kUsage);
      return kUsageError;
    }
  }
}

// Tells why the run's files could not all be opened.
void refuse(quarvend::RunFilesOpening opening, std::string_view textName,
            std::string_view fileName, const std::string& reason) {
  using Opening = quarvend::RunFilesOpening;
  switch (opening) {
    case Opening::kInputCannotOpen:
      complain({"cannot open ", textName, ": ", reason});
      break;
    case Opening::kStandardOutputClosed:
      complain({"cannot write standard output: ", std::strerror(EBADF)});
      break;
    case Opening::kInputUntellable:
      complain({"cannot tell ", textName, " from standard output: ", reason});
      break;
    case Opening::kInputIsStandardOutput:
    case Opening::kOutputIsStandardOutput:
      complain({opening == Opening::kInputIsStandardOutput ? textName : fileName,
                " is also standard output"});
      break;
    case Opening::kInputCannotRead:
      complain({"cannot read ", textName, ": ", reason});
      break;
    case Opening::kOutputCannotCreate:
      complain({"cannot create ", fileName, ": ", reason});
      break;
    case Opening::kOutputIsInput:
      complain({textName, " and ", fileName, " are the same file"});
      break;
    case Opening::kOpened:
      break;
  }
}

// Encodes each block of the text into the output, on whichever thread
// hands it over; the encoding is in on-disk form already.
class BlockEncoder final : public quarvend::PieceTaker {
 public:
  BlockEncoder(TextEncoder& encoder, quarvend::DosTextWriter& output)
      : encoder_(encoder), output_(output) {}

  // True while the text may go on and the file takes more.
  bool take(std::size_t worker, const unsigned char* block, std::size_t size,
            const quarvend::LineFeeds& lines) override {
    unsigned char* const out = blockOutput[worker];
    output_.putOnDisk(out, encoder_.feed(block, size, out, &lines));
    return size != 0 && encoder_.takesMore() && !output_.deliversNothing();
  }

 private:
  TextEncoder& encoder_;
  quarvend::DosTextWriter& output_;
};

// Encodes the text a block at a time, after its first block[0..got), until
// the text ends, a byte has no code, a read fails or the file takes nothing
// more; false when a read failed. After a failed read the file stops where
// the text stopped, an exact prefix of the encoding.
bool encode(int textFd, std::size_t got, TextEncoder& encoder,
            quarvend::DosTextWriter& output, std::string& reason) {
  BlockEncoder blocks(encoder, output);
  if (blocks.take(0, textBlock, got, quarvend::countLineFeeds(textBlock, got))) {
    // The blocks after the first are read ahead, as the one before is encoded.
    quarvend::FileSource text(textFd);
    quarvend::ReadAhead ahead(text, readAheadBuffers, quarvend::readsAhead(textFd, got));
    if (!ahead.handOut(blocks, reason)) return false;
  }
  output.commit(encoder.finish(output.reserve(TextEncoder::maxOutput(0))));
  return true;
}

// Tells where the text holds a byte without a code.
void complainOfUncoded(const TextEncoder& encoder, std::string_view textName) {
  const quarvend::TextPosition at = encoder.uncodedAt();
  const ByteWords words = wordsFor(encoder.uncodedByte());
  char line[20], column[20], value[20];
  complain({textName, ", line ", decimal(at.line, line), ", column ",
            decimal(at.column, column), ": byte ", decimal(encoder.uncodedByte(), value),
            words.name, " has no code", words.hint});
}

// Opens the text, reads its first block and opens the ostrevic file, in that
// order; false, with the reason told, when one of them fails.
bool openFiles(const Arguments& arguments, const platform::StandardStreams& streams,
               std::string_view textName, std::string_view fileName,
               quarvend::RunFiles& files, std::string& reason) {
  // The ostrevic file is emptied only once it is known not to be the text.
  // Standard output must not be the text's own file, which the ostrevic file
  // would overwrite as it is read. A standard input closed at start holds no
  // text, not an empty one.
  if (!arguments.text && !streams.inputOpen) {
    complain({"cannot read standard input: ", std::strerror(EBADF)});
    return false;
  }
  using quarvend::StandardOutputUse;
  const StandardOutputUse use = arguments.file ? StandardOutputUse::kUnused
                                : streams.outputOpen
                                    ? StandardOutputUse::kWritten
                                    : StandardOutputUse::kWrittenButClosed;
  const quarvend::RunFilesOpening opening =
      quarvend::openRunFiles(arguments.text ? &*arguments.text : nullptr,
                             arguments.file ? &*arguments.file : nullptr, use, textBlock,
                             kBlockSize, files, reason);
  if (opening == quarvend::RunFilesOpening::kOpened) return true;
  refuse(opening, textName, fileName, reason);
  return false;
}

int run(int argc, char** argv) {
  std::set_new_handler(cannotStart);
  // A reader that leaves early ends the run as it ends any filter.
  const platform::StandardStreams streams =
      platform::prepareStandardStreams(platform::BrokenPipe::kAsInherited);
  const Arguments arguments = parse(platform::commandLine(argc, argv));
  const std::string textName =
      arguments.text ? platform::displayName(*arguments.text) : "standard input";
  const std::string fileName =
      arguments.file ? platform::displayName(*arguments.file) : "standard output";
  // Room for any message, so that telling a failure allocates nothing.
  message.reserve(kProgram.size() + textName.size() + fileName.size() +
                  platform::kReasonCapacity + 256);
  std::string reason;
  reason.reserve(platform::kReasonCapacity);
  if (arguments.action != Arguments::Action::kEncode)
    return answer(arguments, streams.outputOpen, reason);

  // 1 to 3. The text, then its first block, then the ostrevic file.
  quarvend::RunFiles files;
  if (!openFiles(arguments, streams, textName, fileName, files, reason)) return kFailed;
  // Every piece of memory the run needs is had by now; a thread that cannot be
  // started to read ahead is done without.
  std::set_new_handler(nullptr);

  // 4. Encode.
  quarvend::DosTextWriter output(fileBuffer, sizeof fileBuffer);
  quarvend::FileSink fileSink(files.output);
  const std::size_t file = output.addSink(fileSink);
  TextEncoder encoder;
  const bool readFailed = !encode(files.input, files.firstSize, encoder, output, reason);
  if (readFailed) complain({"cannot read ", textName, ": ", reason});

  // 5. Close both files, and tell what went wrong.
  const bool fileComplete = output.close(file);
  const bool textClosed = !arguments.text || platform::closeFile(files.input, reason);
  if (encoder.stage() == TextEncoder::Stage::kNoCode)
    complainOfUncoded(encoder, textName);
  if (!fileComplete) complain({"cannot write ", fileName, ": ", output.reason(file)});
  if (!textClosed) complain({"cannot close ", textName, ": ", reason});

  // 6. Exit.
  const bool allWell = fileComplete && textClosed && !readFailed &&
                       encoder.stage() == TextEncoder::Stage::kComplete;
  return allWell ? kSuccess : kFailed;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
