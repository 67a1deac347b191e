// quarvend-encode end to end: its command line, what it writes where, its
// messages and exit statuses, files it cannot use and outputs that fail.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/round_trip.h"
#include "support/run_tool.h"

namespace quarvend {
namespace {

using namespace quarvend::testing;

TEST(EncodeCliTest, Rows) {
  ScratchFolder scratch;
  const std::string text = "abc\r\nde\n";
  const std::string encoded = "=+\r\n27 28 29 0 30 31 0\r\n";
  writeBytes(scratch.path() / "in.txt", text);
  writeBytes(scratch.path() / "-x", "a");
  writeBytes(scratch.path() / "tab.txt", "ab\n\tc");
  // Many blocks, each unlike the one before, so that every one must come in
  // its turn; encoded the portable way for what the file must hold.
  std::string big;
  for (std::size_t i = 0; big.size() < (1 << 20); ++i)
    big += i % 61 == 60 ? '\n' : static_cast<char>('a' + i % 26);
  writeBytes(scratch.path() / "big.txt", big);
  const EncodeKernel& portableKernel = usableEncodeKernels().back();
  TextEncoder portable(portableKernel);
  const std::string bigEncoded = encodeInPieces(big, {0}, portable);
  // What out.ost holds when big.txt cannot be read after its first 64 KiB:
  // the codes of those bytes, without the line end that ends the encoding.
  TextEncoder firstBlock(portableKernel);
  std::string bigPrefix = encodeInPieces(big.substr(0, 1 << 16), {0}, firstBlock);
  bigPrefix.resize(bigPrefix.size() - 2);
  // A tab many blocks in: where it stands counts every line feed before it.
  writeBytes(scratch.path() / "bigtab.txt", big + "\tx");
  const std::string bigTabAt =
      "line " + std::to_string(1 + std::count(big.begin(), big.end(), '\n')) +
      ", column " + std::to_string(big.size() - big.rfind('\n'));
  const std::string usage = "Usage: quarvend-encode [<textfile> [<ostfile>]]\n";
  const std::string p = "quarvend-encode: ";
  struct Row {
    std::string arguments;  // split at spaces
    std::string out;        // for --help: how it starts
    std::string err;
    int status;
    std::string file = "keep";  // what out.ost then holds
    std::string wrapper = "";   // a bash script that runs the program as $0
  };
  const Row rows[] = {
      {"--help", usage, "", 0},
      {"--version", "quarvend-encode " QUARVEND_VERSION "\n", "", 0},
      {"-x", "", p + "unknown option -x\n" + usage, 2},
      {"in.txt out.ost c", "", p + "one name too many: c\n" + usage, 2},
      {"in.txt out.ost -", "", p + "one name too many: -\n" + usage, 2},
      {"-- -x", "=+\r\n27\r\n", "", 0},
      {"", "=+\r\n", "", 0},
      {"in.txt -", encoded, "", 0},
      {"in.txt out.ost", "", "", 0, encoded},
      {"big.txt out.ost", "", "", 0, bigEncoded},
      {"tab.txt out.ost", "",
       p + "tab.txt, line 2, column 1: byte 9 (tab) has no code; expand(1) turns tabs "
           "into "
           "spaces\n",
       1, "=+\r\n27 28 0"},
      {"bigtab.txt out.ost", "",
       p + "bigtab.txt, " + bigTabAt +
           ": byte 9 (tab) has no code; expand(1) turns tabs into spaces\n",
       1, bigEncoded.substr(0, bigEncoded.size() - 2)},
      {"missing.txt out.ost", "",
       p + "cannot open missing.txt: No such file or directory\n", 1},
      {". out.ost", "", p + "cannot open .: Is a directory\n", 1},
      {"in.txt no/out.ost", "",
       p + "cannot create no/out.ost: No such file or directory\n", 1},
      {"in.txt in.txt", "", p + "in.txt and in.txt are the same file\n", 1},
#ifndef _WIN32
      {"", encoded, "", 0, "keep", "exec \"$0\" <in.txt"},
      {"in.txt", "", p + "in.txt is also standard output\n", 1, "keep",
       "exec \"$0\" \"$@\" >>in.txt"},
      {"/proc/self/mem out.ost", "",
       p + "cannot read /proc/self/mem: Input/output error\n", 1},
      {"in.txt /dev/full", "", p + "cannot write /dev/full: No space left on device\n",
       1},
      {"- out.ost", "", p + "cannot read standard input: Bad file descriptor\n", 1,
       "keep", "exec \"$0\" \"$@\" <&-"},
      // Killed by SIGPIPE, as a shell tells it, unless SIGPIPE is ignored.
      {"big.txt", "", "", 128 + 13, "keep",
       "set -o pipefail; \"$0\" \"$@\" | head -c 10 >/dev/null"},
      {"in.txt", "", p + "cannot write standard output: Bad file descriptor\n", 1, "keep",
       "exec \"$0\" \"$@\" >&-"},
      {"big.txt out.ost", "", p + "cannot read big.txt: Input/output error\n", 1,
       bigPrefix,
       "export ASAN_OPTIONS=detect_leaks=0; taskset -pc 0 $$ >/dev/null;"
       " strace -y -qq -o t -e trace=read \"$0\" \"$@\";"
       " exec strace -qq -o /dev/null -e trace=read -e inject=read:error=EIO:when=$("
       "grep -n 'big.txt>' t | sed -n 2p | cut -d: -f1) \"$0\" \"$@\""},
      {"big.txt", "", p + "cannot write standard output: Broken pipe\n", 1, "keep",
       "set -o pipefail; trap '' PIPE; \"$0\" \"$@\" | head -c 10 >/dev/null"},
#ifndef QUARVEND_SANITIZED_TOOL
      {"in.txt out.ost", "", "", 0, encoded, kMemorySweep},
#endif
#endif
  };
  for (const Row& row : rows) {
#ifdef QUARVEND_TOOL_EMULATOR
    // A wrapper's "$0" would be the emulator, not the program.
    if (!row.wrapper.empty()) continue;
#endif
    std::vector<std::string> arguments;
    std::istringstream words(row.arguments);
    for (std::string word; words >> word;) arguments.push_back(word);
    writeBytes(scratch.path() / "out.ost", "keep");
    ToolOptions options;
    options.program = "quarvend-encode";
    options.workingDirectory = scratch.path();
    if (!row.wrapper.empty()) options.wrapper = {"bash", "-c", row.wrapper};
    const ToolRun run = runTool(arguments, options);
    EXPECT_EQ(run.status, row.status) << row.arguments;
    EXPECT_EQ(row.out == usage ? run.out.substr(0, usage.size()) : run.out, row.out)
        << row.arguments;
    EXPECT_EQ(run.err, row.err) << row.arguments;
    // Compared whole, shown in part: a diff of a large file would take ages.
    const std::string file = readBytes(scratch.path() / "out.ost");
    EXPECT_TRUE(file == row.file) << row.arguments << ": " << file.substr(0, 100);
    EXPECT_EQ(readBytes(scratch.path() / "in.txt"), text) << row.arguments;
  }
}

}  // namespace
}  // namespace quarvend
