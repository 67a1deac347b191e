// The built tool end to end: exact bytes on standard output and in the output
// file, the exit status, an empty standard error, and what happens to the
// user's files when something is wrong.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace quarvend {
namespace {

namespace fs = std::filesystem;
using namespace quarvend::testing;

const std::string kUsage = "\r\nUsage: quarvend <inputfile> [<outputfile>]\r\n";
const std::string kBannerAndUsage =
    "\r\nquarvend - 4/6/2007 - an 'ostrevic trellimator'\r\n" + kUsage;
const std::string kNotOstrevic = "\r\nThe input file is not a valid ostrevic file.\r\n";
const std::string kNoOptions =
    "\r\nquarvend takes no options; its manual (man quarvend, or quarvend.html in the "
    "Windows zip) describes it.\r\n";

// The system's reason for refusing a folder as either file, on every system.
const std::string kFolderReason = "Is a directory";
// Why a name holding a wildcard cannot be opened, and, on Windows, where no
// wildcard is expanded before the tool sees it, the hint that follows.
#ifdef _WIN32
const std::string kWildcardReason = "Invalid argument";
const std::string kWildcardHint =
    "\r\nThe console does not expand wildcards; the for loop in README.txt names each "
    "file in turn.\r\n";
#else
const std::string kWildcardReason = "No such file or directory";
const std::string kWildcardHint = "";
#endif

// `path` as UTF-8, which is how runTool passes names on and how the closing
// message shows them when standard output is not a console.
std::string utf8(const fs::path& path) {
  const std::u8string bytes = path.u8string();
  return std::string(bytes.begin(), bytes.end());
}

class CliTest : public ::testing::Test {
 protected:
  // Writes an input file holding `content` and returns its name.
  std::string input(const std::string& content, const std::string& name = "in.ost") {
    const std::string path = scratch.file(name);
    writeBytes(path, content);
    return path;
  }

  // Runs the tool and checks what every run must satisfy.
  ToolRun run(const std::vector<std::string>& arguments,
              const ToolOptions& options = {}) {
    ToolRun result = runTool(arguments, options);
    EXPECT_EQ(result.err, "") << "standard error must stay empty";
    return result;
  }

  ScratchFolder scratch;
};

TEST_F(CliTest, CommandLineRows) {
  const std::string in = input("heading\r\n=+ 27 28 29\r\n");
  const std::string out = scratch.file("out.txt");
  const std::string third = scratch.file("third.txt");

  const ToolRun none = run({});
  EXPECT_EQ(none.out, kBannerAndUsage);
  EXPECT_EQ(none.status, 0);

  const ToolRun one = run({in});
  EXPECT_EQ(one.out, "abc");
  EXPECT_EQ(one.status, 0);

  const ToolRun three = run({in, out, third});
  EXPECT_EQ(three.out, "abc");
  EXPECT_EQ(three.status, 0);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(third));

  const ToolRun two = run({in, out});
  EXPECT_EQ(two.out, "abc" + closingMessage(out));
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(readBytes(out), "abc");
}

TEST_F(CliTest, DecodedTextInBothPlaces) {
  struct Row {
    const char* name;
    std::string content;
    std::string text;
  };
  const Row rows[] = {
      {"code 0 is a DOS line end", "=+ 27 0 28", "a\r\nb"},
      {"empty number list", "=+\r\n", ""},
      {"high bytes and zero bytes", "=+ 96 190 191 255",
       "\xA1\xFF" + std::string(2, '\0')},
  };
  for (const Row& row : rows) {
    const std::string in = input(row.content);
    const std::string out = scratch.file("out.txt");
    const ToolRun result = run({in, out});
    EXPECT_EQ(result.out, row.text + closingMessage(out)) << row.name;
    EXPECT_EQ(readBytes(out), row.text) << row.name;
    EXPECT_EQ(result.status, 0) << row.name;
  }
}

TEST_F(CliTest, MissingMarkerEmptiesAnExistingOutputFile) {
  const std::string in = input("no marker here, =- only\r\n27 28\r\n");
  const std::string out = scratch.file("out.txt");
  writeBytes(out, "precious");
  const ToolRun result = run({in, out});
  EXPECT_EQ(result.out, kNotOstrevic);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readBytes(out), "");
}

TEST_F(CliTest, UnusableFilesAreRefusedWithTheSystemsReason) {
  fs::create_directory(scratch.path() / "folder");
  const std::string folder = scratch.file("folder");
  const std::string missing = scratch.file("missing.ost");
  const std::string good = input("=+ 27");
  const std::string untouched = scratch.file("untouched.txt");
  const std::string noFolder = scratch.file("no/such/folder/out.txt");
  const std::string wildcard = scratch.file("*.ost");

  struct Row {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
  };
  const Row rows[] = {
      {"missing input",
       {missing, untouched},
       "\r\nThe input file " + missing +
           " cannot be opened: No such file or directory.\r\n" + kUsage},
      {"input is a folder",
       {folder, untouched},
       "\r\nThe input file " + folder + " cannot be opened: " + kFolderReason + ".\r\n" +
           kUsage},
      {"a guess at an option",
       {"--help"},
       "\r\nThe input file --help cannot be opened: No such file or directory.\r\n" +
           kUsage + kNoOptions},
      {"a wildcard",
       {wildcard},
       "\r\nThe input file " + wildcard + " cannot be opened: " + kWildcardReason +
           ".\r\n" + kUsage + kWildcardHint},
      {"a slash and one character",
       {"/?"},
       "\r\nThe input file /? cannot be opened: " + kWildcardReason + ".\r\n" + kUsage +
           kNoOptions},
      {"output in a missing folder",
       {good, noFolder},
       "\r\nThe output file " + noFolder +
           " cannot be created: No such file or directory.\r\n"},
      {"output is a folder",
       {good, folder},
       "\r\nThe output file " + folder + " cannot be created: " + kFolderReason +
           ".\r\n"},
  };
  for (const Row& row : rows) {
    const ToolRun result = run(row.arguments);
    EXPECT_EQ(result.out, row.message) << row.name;
    EXPECT_EQ(result.status, 1) << row.name;
  }
  EXPECT_FALSE(fs::exists(untouched));
}

TEST_F(CliTest, UnreadableInputIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no mode bits that deny reading";
#else
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
#endif
  const std::string in = input("=+ 27");
  fs::permissions(in, fs::perms::none);
  const ToolRun result = run({in});
  EXPECT_EQ(result.out, "\r\nThe input file " + in +
                            " cannot be opened: Permission denied.\r\n" + kUsage);
  EXPECT_EQ(result.status, 1);
}

TEST_F(CliTest, OneFileNamedTwiceIsLeftAlone) {
  const std::string content = "=+ 27 28 29";
  const std::string in = input(content);
  fs::create_directory(scratch.path() / "sub");
  fs::create_hard_link(in, scratch.path() / "hard.ost");

  std::vector<std::string> spellings = {
      in,
      scratch.file("sub/../in.ost"),
      scratch.file("hard.ost"),
  };
#ifdef _WIN32
  // Making a symbolic link needs a privilege (and Wine has none to make), but
  // Windows names one file in more ways than POSIX does.
  spellings.push_back(scratch.file("IN.OST"));
  spellings.push_back(utf8(scratch.path()) + "/in.ost");
#else
  fs::create_symlink(in, scratch.path() / "soft.ost");
  spellings.push_back(scratch.file("soft.ost"));
#endif
  for (const std::string& other : spellings) {
    for (const auto& [first, second] : {std::pair{in, other}, std::pair{other, in}}) {
      const ToolRun result = run({first, second});
      EXPECT_EQ(result.out, "\r\nThe input file " + first + " and the output file " +
                                second + " are the same file.\r\n")
          << first << " " << second;
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(readBytes(in), content);
    }
  }
}

TEST_F(CliTest, CodeOutsideTheTableStopsDecoding) {
  struct Row {
    std::string list;
    std::string text;
    std::string code;  // as the message shows it
  };
  const Row rows[] = {
      {"27 28 256 29", "ab", "256"},
      {"27 -1 28", "a", "-1"},
      {"+0 -0 0255 0300", std::string("\r\n\r\n", 4) + '\0', "300"},
      {"27 -99999999999", "a", "-1000000000 or less"},
  };
  for (const Row& row : rows) {
    const std::string in = input("=+ " + row.list);
    const std::string outOfRange = "\r\nThe input file holds the code " + row.code +
                                   ", outside 0 to 255; decoding stopped there.\r\n";
    const ToolRun alone = run({in});
    EXPECT_EQ(alone.out, row.text + outOfRange) << row.list;
    EXPECT_EQ(alone.status, 1) << row.list;

    const std::string out = scratch.file("out.txt");
    const ToolRun withFile = run({in, out});
    EXPECT_EQ(withFile.out, row.text + outOfRange + closingMessage(out)) << row.list;
    EXPECT_EQ(readBytes(out), row.text) << row.list;
    EXPECT_EQ(withFile.status, 1) << row.list;
  }
}

TEST_F(CliTest, LongNamesAreUsedWhole) {
  // Each folder name stays under the usual 255-byte limit; the whole name is
  // well past 300 characters.
  fs::path folder = scratch.path();
  for (int i = 0; i < 3; ++i) folder /= std::string(120, static_cast<char>('a' + i));
  fs::create_directories(folder);
  const std::string in = (folder / (std::string(100, 'i') + ".ost")).string();
  const std::string out =
      (folder / (std::string(100, 'o') + " with spaces.txt")).string();
  writeBytes(in, "=+ 27");
  ASSERT_GT(out.size(), 300u);

  const ToolRun result = run({in, out});
  EXPECT_EQ(result.out, "a" + closingMessage(out));
  EXPECT_EQ(readBytes(out), "a");
  EXPECT_EQ(result.status, 0);
}

TEST_F(CliTest, NonAsciiNamesAreUsedWhole) {
  // Latin, Cyrillic and CJK letters, and one character outside the Basic
  // Multilingual Plane, which takes two UTF-16 units on Windows.
  const fs::path folder = scratch.path() / fs::path(u8"d\u00e9j\u00e0 \u0432\u0443");
  fs::create_directory(folder);
  const fs::path in = folder / fs::path(u8"\u65e5\u672c.ost");
  const fs::path out = folder / fs::path(u8"\u00e9t\u00e9 \U0001F600.txt");
  writeBytes(in, "=+ 27");

  const ToolRun result = run({utf8(in), utf8(out)});
  EXPECT_EQ(result.out, "a" + closingMessage(utf8(out)));
  EXPECT_EQ(readBytes(out), "a");
  EXPECT_EQ(result.status, 0);

  const ToolRun missing = run({utf8(folder / fs::path(u8"\u00fc.ost"))});
  EXPECT_EQ(missing.out, "\r\nThe input file " + utf8(folder / fs::path(u8"\u00fc.ost")) +
                             " cannot be opened: No such file or directory.\r\n" +
                             kUsage);
}

TEST_F(CliTest, NamesThatLookLikeOptionsAreFiles) {
  writeBytes(scratch.path() / "-o", "=+ 27");
  ToolOptions here;
  here.workingDirectory = scratch.path();
  const ToolRun result = run({"-o", "--help"}, here);
  EXPECT_EQ(result.out, "a" + closingMessage("--help"));
  EXPECT_EQ(readBytes(scratch.path() / "--help"), "a");
}

}  // namespace
}  // namespace quarvend
