// The code reader: where the start marker is, which codes a number list
// yields, where the list ends, and that no code wraps around into range,
// whatever the block size.

#include "decode/encoded_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/memory_streams.h"

namespace quarvend {
namespace {

using testing::MemorySource;

struct MarkerCase {
  const char* name;
  std::string input;
  bool found;
};

const MarkerCase kMarkerCases[] = {
    {"empty file", "", false},
    {"no equals sign", "hello world", false},
    {"equals sign is the last byte", "lead-in=", false},
    {"only the marker", "=+", true},
    {"lead-in before the marker", "any text\r\n=+", true},
    {"first equals sign decides", "=-=+ 27", false},
    {"equals then space", "= + 27", false},
    {"carriage return inside the marker", "=\r+", true},
    {"ctrl-z in the lead-in", "abc\x1A=+ 27", false},
    {"ctrl-z between equals and plus", "=\x1A+", false},
    {"equals twice", "==+", false},
};

TEST(EncodedReaderTest, FindsTheStartMarker) {
  for (const MarkerCase& c : kMarkerCases) {
    for (std::size_t block : {1u, 2u, 3u, 4096u}) {
      MemorySource source(c.input);
      EncodedReader reader(source, block);
      EXPECT_EQ(reader.findStartMarker(), c.found) << c.name << ", block " << block;
    }
  }
}

struct ListCase {
  const char* name;
  std::string list;  // what follows the start marker
  std::vector<std::int32_t> codes;
};

const ListCase kListCases[] = {
    {"empty list", "", {}},
    {"three codes and a line break", " 27 28 29\r\n", {27, 28, 29}},
    {"every kind of white space", "\t1\n2\v3\f4 \r 5\r\n6   ", {1, 2, 3, 4, 5, 6}},
    {"no space after the marker", "27", {27}},
    {"letters end the list", "12abc 13", {12}},
    {"lone plus", "1 + 2", {1}},
    {"lone minus at the end", "1 -", {1}},
    {"sign then space", "1 - 2", {1}},
    {"two signs", "1 +-2", {1}},
    {"signs and leading zeros",
     "007 +7 -0 +0 -3 0000000000000000000027",
     {7, 7, 0, 0, -3, 27}},
    {"sign directly after a code", "1+2-3", {1, 2, -3}},
    {"carriage return joins digits", "1\r2 3", {12, 3}},
    {"carriage return then line feed separates", "1\r\n2", {1, 2}},
    {"ctrl-z ends a complete code",
     "27 28\x1A"
     "29",
     {27, 28}},
    {"ctrl-z after a sign",
     "27 -\x1A"
     "5",
     {27}},
    {"equals sign ends the list", "1 =+ 2", {1}},
    {"32-bit limits", "2147483647 -2147483648", {INT32_MAX, INT32_MIN}},
    {"just past the limits", "2147483648 -2147483649", {INT32_MAX, INT32_MIN}},
    {"past 32 bits does not wrap", "4294967323 -4294967295", {INT32_MAX, INT32_MIN}},
    {"around the 32-bit limits",
     "2147483646 -2147483647 +2147483647 -0000002147483648",
     {INT32_MAX - 1, INT32_MIN + 1, INT32_MAX, INT32_MIN}},
    {"around 2^63 and 2^64",
     "9223372036854775807 9223372036854775808 -9223372036854775809 18446744073709551616",
     {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX}},
    {"past 64 bits does not wrap",
     "18446744073709551643 1234567890123456789012345678901234567890 7",
     {INT32_MAX, INT32_MAX, 7}},
};

TEST(EncodedReaderTest, ReadsTheNumberList) {
  for (const ListCase& c : kListCases) {
    for (std::size_t block : {1u, 2u, 3u, 5u, 4096u}) {
      MemorySource source("lead-in=+" + c.list);
      EncodedReader reader(source, block);
      ASSERT_TRUE(reader.findStartMarker()) << c.name;
      std::vector<std::int32_t> codes;
      std::int32_t code = 0;
      while (codes.size() <= c.codes.size() && reader.nextCode(code))
        codes.push_back(code);
      EXPECT_EQ(codes, c.codes) << c.name << ", block " << block;
    }
  }
}

TEST(EncodedReaderTest, CodeSplitAcrossReadsIsOneCode) {
  MemorySource source("=+ 12345 6", 1);
  EncodedReader reader(source, 2);
  ASSERT_TRUE(reader.findStartMarker());
  std::int32_t code = 0;
  ASSERT_TRUE(reader.nextCode(code));
  EXPECT_EQ(code, 12345);
  ASSERT_TRUE(reader.nextCode(code));
  EXPECT_EQ(code, 6);
  EXPECT_FALSE(reader.nextCode(code));
}

}  // namespace
}  // namespace quarvend
