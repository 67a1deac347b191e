// The built tool when its output cannot be written: a full disk, a closed or
// broken standard output, failing or interrupted writes. It never crashes,
// never writes to standard error, never reports a lost byte as success, and
// never lets one stream's failure spoil the other.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/run_tool.h"

namespace quarvend {
namespace {

namespace fs = std::filesystem;
using namespace quarvend::testing;

const char kEncoded[] = "=+ 27 0 28 0 29";
const char kText[] = "a\r\nb\r\nc";

bool haveStrace() {
#ifdef _WIN32
  return false;
#else
  return std::system("strace -V >/dev/null 2>&1") == 0;
#endif
}

class CliFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { writeBytes(in, kEncoded); }

  // Whether the full device exists; where it does not, a test that needs it
  // must skip.
  static bool haveFullDevice() {
#ifdef _WIN32
    return false;  // Windows has no device that is always full
#else
    return fs::exists("/dev/full");
#endif
  }

  ScratchFolder scratch;
  const std::string in = scratch.file("in.ost");
  const std::string out = scratch.file("out.txt");
};

TEST_F(CliFaultTest, OutputFileOnAFullDisk) {
  if (!haveFullDevice()) GTEST_SKIP() << "needs /dev/full";
  const ToolRun result = runTool({in, "/dev/full"});
  EXPECT_EQ(result.out, kText + closingMessage("/dev/full"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, kFailedCloseStatus);
}

TEST_F(CliFaultTest, BrokenStandardOutput) {
  struct Row {
    const char* name;
    StandardOutput output;
    bool closeAll;
    bool withFile;
    int status;
  };
  const Row rows[] = {
      {"full, no file", StandardOutput::kFull, false, false, kFailedCloseStatus},
      {"full, with a file", StandardOutput::kFull, false, true, 0},
      {"closed, no file", StandardOutput::kClosed, false, false, kFailedCloseStatus},
      {"closed, with a file", StandardOutput::kClosed, false, true, 0},
      {"all three closed, no file", StandardOutput::kClosed, true, false,
       kFailedCloseStatus},
      {"all three closed, with a file", StandardOutput::kClosed, true, true, 0},
  };
  for (const Row& row : rows) {
    // Without a full device (Windows) only the closed rows can run.
    if (row.output == StandardOutput::kFull && !haveFullDevice()) continue;
    fs::remove(out);
    ToolOptions options;
    options.output = row.output;
    options.closeAllStandardStreams = row.closeAll;
    const ToolRun result =
        runTool(row.withFile ? std::vector{in, out} : std::vector{in}, options);
    EXPECT_EQ(result.status, row.status) << row.name;
    EXPECT_EQ(result.err, "") << row.name;
    if (row.withFile) {
      // The text exactly once: standard output never lands in the file.
      EXPECT_EQ(readBytes(out), kText) << row.name;
    }
  }
}

TEST_F(CliFaultTest, InjectedWriteFaults) {
  if (!haveStrace()) GTEST_SKIP() << "needs strace";
  struct Row {
    const char* name;
    const char* inject;
    bool withFile;
    int status;
  };
  const Row rows[] = {
      {"every write fails, no file", "write:error=EIO", false, kFailedCloseStatus},
      {"every write fails, with a file", "write:error=EIO", true, kFailedCloseStatus},
      {"first writes interrupted, no file", "write:error=EINTR:when=1..3", false, 0},
      {"first writes interrupted, with a file", "write:error=EINTR:when=1..3", true, 0},
  };
  for (const Row& row : rows) {
#ifdef QUARVEND_SANITIZED_TOOL
    // The sanitizer runtime checks memory through writes of its own and gives
    // up when every write fails, so only the interrupted rows mean anything.
    if (row.status != 0) continue;
#endif
    fs::remove(out);
    ToolOptions options;
    // Leak checking cannot run under ptrace, in a sanitizer build.
    options.wrapper = {"env",
                       "ASAN_OPTIONS=detect_leaks=0",
                       "strace",
                       "-f",
                       "-qq",
                       "-o",
                       "/dev/null",
                       "-e",
                       "trace=write",
                       "-e",
                       std::string("inject=") + row.inject};
    const ToolRun result =
        runTool(row.withFile ? std::vector{in, out} : std::vector{in}, options);
    EXPECT_EQ(result.status, row.status) << row.name;
    EXPECT_EQ(result.err, "") << row.name;
    if (row.status == 0) {
      EXPECT_EQ(result.out, kText + (row.withFile ? closingMessage(out) : std::string()))
          << row.name;
      if (row.withFile) EXPECT_EQ(readBytes(out), kText) << row.name;
    }
  }
}

TEST_F(CliFaultTest, ReaderThatLeavesEarly) {
#ifdef _WIN32
  GTEST_SKIP() << "needs bash, head and SIGPIPE";
#endif
  // Enough codes to fill many output blocks after the reader has gone.
  std::string big = "=+";
  for (int i = 0; i < 400000; ++i) big += " 27 28 0";
  writeBytes(in, big);
  const std::string errPath = scratch.file("err");
  const std::string statusPath = scratch.file("status");
  const std::string script = scratch.file("pipe.sh");
  writeBytes(script, "timeout 20 '" + testing::toolPath() + "' '" + in + "' 2>'" +
                         errPath + "' | head -c 10 >/dev/null\necho ${PIPESTATUS[0]} >'" +
                         statusPath + "'\n");
  ASSERT_EQ(std::system(("bash '" + script + "'").c_str()), 0);
  // Ended by the broken pipe (128 + SIGPIPE) or finished; 124 would mean it hung.
  const std::string status = readBytes(statusPath);
  EXPECT_TRUE(status == "141\n" || status == "0\n") << status;
  EXPECT_EQ(readBytes(errPath), "");
}

}  // namespace
}  // namespace quarvend
