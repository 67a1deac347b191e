// The built tool when something fails under it: a full disk, a file-size
// limit, a reader that leaves early, failing, interrupted or blocked writes, a
// failing read, identities that cannot be read, closed standard streams. Every failure
// is told with the system's reason and a non-zero status, an output file always holds an
// exact prefix of the text, no file of the user's is damaged, and nothing reaches
// standard error.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/plain_reading.h"
#include "support/run_tool.h"

namespace quarvend {
namespace {

namespace fs = std::filesystem;
using namespace quarvend::testing;

// An input whose text is several times larger than the tool's buffers, so
// that a failure in the middle of a run really falls in the middle, and
// larger than the 4 MiB from which the tool decodes on several threads; and
// which never repeats itself, so that a file with a block missing, or one
// twice, is no prefix of it.
const std::string kInput = [] {
  std::string input = "=+";
  std::uint32_t random = 1;
  for (int i = 0; i < 1300000; ++i) {
    random = random * 1103515245 + 12345;
    input += ' ' + std::to_string((random >> 16) % 191);
  }
  return input;
}();
const std::string kText = plainReading(kInput).text;

enum class FileHolds { kText, kShorterPrefix, kUntouched };

// Runs the tool as $0 of a bash script, its arguments after. `nth CALLS
// PATTERN K` prints which call of CALLS the K-th one matching PATTERN is, in a
// traced run with the same arguments but the output file $T.out, with paths
// shown for descriptors; `inject CALL FAULT` runs the tool with FAULT injected
// into CALL. `one` keeps the tool on one processor, and so on one thread.
const std::string kPrelude =
    "export ASAN_OPTIONS=detect_leaks=0; ARGS=(\"$@\"); T=$1.trace\n"
    "nth() { strace -y -qq -o $T -e trace=$1 \"$0\" \"$ARGS\" ${ARGS[1]+$T.out} "
    ">/dev/null;"
    " grep -n \"$2\" $T | sed -n \"$3p\" | cut -d: -f1; }\n"
    "one() { taskset -pc 0 $$ >/dev/null; }\n"
    "inject() { exec strace -f -qq -o /dev/null -e trace=$1 -e inject=$1:$2"
    " \"$0\" \"${ARGS[@]}\"; }\n";

class CliFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { writeBytes(in, kInput); }

  ToolRun runScript(const std::string& script, bool withFile, std::string name) {
    writeBytes(out, "keep");
    ToolOptions options;
    options.wrapper = {"bash", "-c", kPrelude + script};
    const ToolRun result =
        runTool(withFile ? std::vector{in, out} : std::vector{in}, options);
    EXPECT_EQ(result.err, "") << name;
    EXPECT_EQ(readBytes(in), kInput) << name << ": the input was changed";
    return result;
  }

  ScratchFolder scratch;
  const std::string in = scratch.file("in.ost");
  const std::string out = scratch.file("out.txt");
};

TEST_F(CliFaultTest, FailuresAreToldAndFilesKeepExactPrefixes) {
#if defined(_WIN32) || defined(QUARVEND_TOOL_EMULATOR)
  GTEST_SKIP() << "needs bash, strace and ulimit, and the tool's own system calls";
#endif
  const std::string closing = closingMessage(out);
  const auto lost = [&](const std::string& why) {
    return closing + "\r\nThe output file " + out +
           " could not be written in full: " + why + ".\r\n";
  };
  const std::string readFailed =
      "\r\nThe input file " + in + " cannot be read: Input/output error.\r\n";
  struct Row {
    const char* name;
    std::string script;
    bool withFile;
    int status;
    FileHolds file;
    std::string outEnd;  // how standard output ends
  };
  const Row rows[] = {
      {"all well", "exec \"$0\" \"$@\"", true, 0, FileHolds::kText, kText + closing},
      {"output file on a full disk", "exec \"$0\" \"$1\" /dev/full", false,
       kFailedCloseStatus, FileHolds::kUntouched,
       kText + closingMessage("/dev/full") +
           "\r\nThe output file /dev/full could not be written in full: No space left "
           "on device.\r\n"},
      {"file-size limit", "set -o pipefail; (ulimit -f 300; exec \"$0\" \"$@\") | cat",
       true, kFailedCloseStatus, FileHolds::kShorterPrefix, lost("File too large")},
      {"third write fails", "inject write error=EIO:when=3", true, kFailedCloseStatus,
       FileHolds::kShorterPrefix, lost("Input/output error")},
      {"memory lacking at start", kMemorySweep, true, 0, FileHolds::kText,
       kText + closing},
      {"writes interrupted", "inject write error=EINTR:when=1..4", true, 0,
       FileHolds::kText, kText + closing},
      {"writes would block", "inject write error=EAGAIN:when=2..5", true, 0,
       FileHolds::kText, kText + closing},
      {"reader leaves early, with a file",
       "set -o pipefail; \"$0\" \"$@\" | head -c 10 >/dev/null", true, 0,
       FileHolds::kText, ""},
      {"reader leaves early, no file",
       "set -o pipefail; \"$0\" \"$@\" | head -c 10 >/dev/null", false,
       kFailedCloseStatus, FileHolds::kUntouched, ""},
      {"one processor", "one; exec \"$0\" \"$@\"", true, 0, FileHolds::kText,
       kText + closing},
      {"third block cannot be read, one thread",
       "one; inject read error=EIO:when=$(nth read \"<${ARGS[0]}>, \" 3)", true, 1,
       FileHolds::kShorterPrefix, readFailed + closing},
      {"a block cannot be read, several threads", "inject pread64 error=EIO:when=5", true,
       1, FileHolds::kShorterPrefix, readFailed + closing},
      {"reads interrupted",
       "N=$(nth read \"<${ARGS[0]}>, \" 1); inject read error=EINTR:when=$N..$((N + 2))",
       true, 0, FileHolds::kText, kText + closing},
      {"short writes to a pipe",
       "set -o pipefail; perl -MFcntl -e '"
       "fcntl(STDOUT, F_SETFL, O_NONBLOCK) or die; exec @ARGV' \"$0\" \"$@\" |"
       " (sleep 0.1; cat)",
       false, 0, FileHolds::kUntouched, kText},
      {"third write fails, then the close",
       "exec strace -qq -o /dev/null -e trace=write,close -e "
       "inject=write:error=EIO:when=3"
       " -e inject=close:error=ENOSPC:when=$(nth close \"<$T.out>\" 1) \"$0\" \"$@\"",
       true, kFailedCloseStatus, FileHolds::kShorterPrefix, lost("Input/output error")},
      {"input cannot be closed, no file",
       "inject close error=EIO:when=$(nth close \"<${ARGS[0]}>\" 1)", false,
       kFailedCloseStatus, FileHolds::kUntouched, kText},
      {"input cannot be read at all", "exec \"$0\" /proc/self/mem \"$2\"", true, 1,
       FileHolds::kUntouched,
       "\r\nThe input file /proc/self/mem cannot be read: Input/output error.\r\n"},
      {"output file's identity cannot be read",
       "inject newfstatat error=EIO:when=$(nth newfstatat \"<$T.out>\" 1)", true, 1,
       FileHolds::kUntouched,
       "\r\nThe output file " + out + " cannot be created: Input/output error.\r\n"},
      {"standard output is the input", "exec \"$0\" \"$@\" >>\"$1\"", true, 1,
       FileHolds::kUntouched, ""},
      {"standard output's identity cannot be read",
       "inject newfstatat error=EIO:when=$(nth newfstatat '(1<' 1)", true, 1,
       FileHolds::kUntouched,
       "\r\nThe input file " + in +
           " cannot be told apart from standard output: Input/output error.\r\n"},
  };
  for (const Row& row : rows) {
#ifdef QUARVEND_SANITIZED_TOOL
    // The sanitizer runtime writes through the same calls and maps far more
    // memory than a file-size limit leaves.
    if (row.script.find("inject write") != std::string::npos ||
        row.script.find("inject=write") != std::string::npos ||
        row.script.find("ulimit") != std::string::npos) {
      continue;
    }
#endif
    const ToolRun result = runScript(row.script, row.withFile, row.name);
    EXPECT_EQ(result.status, row.status) << row.name;
    EXPECT_TRUE(result.out.ends_with(row.outEnd)) << row.name;
    const std::string file = readBytes(out);
    switch (row.file) {
      case FileHolds::kText:
        EXPECT_EQ(file, kText) << row.name;
        break;
      case FileHolds::kShorterPrefix:
        EXPECT_LT(file.size(), kText.size()) << row.name;
        EXPECT_TRUE(kText.starts_with(file)) << row.name;
        break;
      case FileHolds::kUntouched:
        EXPECT_EQ(file, "keep") << row.name;
        break;
    }
  }
}

TEST_F(CliFaultTest, ClosedStandardStreams) {
  struct Row {
    const char* name;
    bool closeAll;
    bool withFile;
    int status;
  };
  const Row rows[] = {
      {"standard output closed, no file", false, false, kFailedCloseStatus},
      {"standard output closed, with a file", false, true, 0},
      {"all three closed, no file", true, false, kFailedCloseStatus},
      {"all three closed, with a file", true, true, 0},
  };
  for (const Row& row : rows) {
    fs::remove(out);
    ToolOptions options;
    options.output = StandardOutput::kClosed;
    options.closeAllStandardStreams = row.closeAll;
    const ToolRun result =
        runTool(row.withFile ? std::vector{in, out} : std::vector{in}, options);
    EXPECT_EQ(result.status, row.status) << row.name;
    EXPECT_EQ(result.err, "") << row.name;
    // The text exactly once: what was meant for standard output never lands
    // in a file the tool opened on a descriptor left free.
    if (row.withFile) EXPECT_EQ(readBytes(out), kText) << row.name;
  }
}

}  // namespace
}  // namespace quarvend
