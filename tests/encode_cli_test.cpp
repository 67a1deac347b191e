// quarvend-encode end to end: its command line, what it writes where, its
// messages and exit statuses, files it cannot use and outputs that fail.

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  std::string big;
  while (big.size() < (1 << 20)) big += "the quick brown fox\n";
  writeBytes(scratch.path() / "big.txt", big);
  const std::string usage = "Usage: quarvend-encode [<textfile> [<ostfile>]]\n";
  const std::string tab =
      "quarvend-encode: tab.txt, line 2, column 1: byte 9 (tab) has no code; expand(1) "
      "turns tabs into spaces\n";
  const std::string tail = "quarvend-encode: cannot write standard output: ";

  struct Row {
    std::vector<std::string> arguments;
    std::string out;  // for --help: how it starts
    std::string err;
    int status;
    std::string file = "keep";  // what out.ost then holds
    std::string wrapper = "";   // a bash script that runs the program as $0 (POSIX)
    StandardOutput output = StandardOutput::kCaptured;
  };
  const Row rows[] = {
      {{"--help"}, usage, "", 0},
      {{"in.txt", "--help"}, usage, "", 0},
      {{"--version"}, "quarvend-encode " QUARVEND_VERSION "\n", "", 0},
      {{"-x"}, "", "quarvend-encode: unknown option -x\n" + usage, 2},
      {{"in.txt", "--bogus"}, "", "quarvend-encode: unknown option --bogus\n" + usage, 2},
      {{"in.txt", "out.ost", "c"},
       "",
       "quarvend-encode: one name too many: c\n" + usage,
       2},
      {{"--", "-x"}, "=+\r\n27\r\n", "", 0},
      {{}, "=+\r\n", "", 0},
      {{"-", "-"}, "=+\r\n", "", 0},
      {{"in.txt"}, encoded, "", 0},
      {{"in.txt", "-"}, encoded, "", 0},
      {{"in.txt", "out.ost"}, "", "", 0, encoded},
      {{"tab.txt"}, "=+\r\n27 28 0", tab, 1},
      {{"tab.txt", "out.ost"}, "", tab, 1, "=+\r\n27 28 0"},
      {{"missing.txt", "out.ost"},
       "",
       "quarvend-encode: cannot open missing.txt: No such file or directory\n",
       1},
      {{"in.txt", "no/such/out.ost"},
       "",
       "quarvend-encode: cannot create no/such/out.ost: No such file or directory\n",
       1},
      {{"in.txt", "in.txt"},
       "",
       "quarvend-encode: in.txt and in.txt are the same file\n",
       1},
#ifndef _WIN32
      {{}, encoded, "", 0, "keep", "exec \"$0\" <in.txt"},
      {{"in.txt"},
       "",
       "quarvend-encode: in.txt is also standard output\n",
       1,
       "keep",
       "exec \"$0\" \"$@\" >>in.txt"},
      {{"/proc/self/mem", "out.ost"},
       "",
       "quarvend-encode: cannot read /proc/self/mem: Input/output error\n",
       1},
      {{"in.txt", "/dev/full"},
       "",
       "quarvend-encode: cannot write /dev/full: No space left on device\n",
       1},
      {{"in.txt"},
       "",
       tail + "No space left on device\n",
       1,
       "keep",
       "",
       StandardOutput::kFull},
      {{"big.txt"},
       "",
       tail + "Broken pipe\n",
       1,
       "keep",
       "set -o pipefail; \"$0\" \"$@\" | head -c 10 >/dev/null"},
#endif
  };
  for (const Row& row : rows) {
    const std::string name = row.wrapper + " quarvend-encode " + [&] {
      std::string words;
      for (const std::string& word : row.arguments) words += word + " ";
      return words;
    }();
    writeBytes(scratch.path() / "out.ost", "keep");
    ToolOptions options;
    options.program = "quarvend-encode";
    options.workingDirectory = scratch.path();
    options.output = row.output;
    if (!row.wrapper.empty()) options.wrapper = {"bash", "-c", row.wrapper};
    const ToolRun run = runTool(row.arguments, options);
    EXPECT_EQ(run.status, row.status) << name;
    if (row.out == usage) {
      EXPECT_TRUE(run.out.starts_with(usage)) << name;
    } else {
      EXPECT_EQ(run.out, row.out) << name;
    }
    EXPECT_EQ(run.err, row.err) << name;
    EXPECT_EQ(readBytes(scratch.path() / "out.ost"), row.file) << name;
    EXPECT_EQ(readBytes(scratch.path() / "in.txt"), text) << name;
  }
}

}  // namespace
}  // namespace quarvend
