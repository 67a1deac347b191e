// The decoder: where the start marker is, which text a number list yields and
// how the list ends, whether the input comes whole, a byte at a time, or split
// at any offset, so that every rule is seen to hold across a block edge.

#include "decode/encoded_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "support/plain_reading.h"

namespace quarvend {
namespace {

using End = EncodedReader::End;
using testing::Decoded;
using testing::decodeInPieces;

struct Row {
  const char* name;
  std::string input;
  std::string text;  // in on-disk form
  End end;
  std::int64_t code = 0;  // for kCodeOutOfRange
};

const Row kRows[] = {
    {"empty file", "", "", End::kNotOstrevic},
    {"no equals sign", "hello world", "", End::kNotOstrevic},
    {"equals sign is the last byte", "lead-in=", "", End::kNotOstrevic},
    {"only the marker", "=+", "", End::kEndOfList},
    {"first equals sign decides", "=-=+ 27", "", End::kNotOstrevic},
    {"equals then space", "= + 27", "", End::kNotOstrevic},
    {"equals twice", "==+", "", End::kNotOstrevic},
    {"carriage return inside the marker", "=\r+27", "a", End::kEndOfList},
    {"ctrl-z in the lead-in", "abc\x1A=+ 27", "", End::kNotOstrevic},
    {"ctrl-z between equals and plus", "=\x1A+", "", End::kNotOstrevic},
    {"three codes and a line break", "head\r\n=+ 27 28 29\r\n", "abc", End::kEndOfList},
    {"every kind of white space", "=+\t27\n28\v29\f30 \r 31\r\n32   ", "abcdef",
     End::kEndOfList},
    {"code 0, high bytes and zero bytes", "=+0 96 190 191 255",
     std::string("\r\n\xA1\xFF\0\0", 6), End::kEndOfList},
    {"letters end the list", "=+12abc 13", "L", End::kEndOfList},
    {"lone plus", "=+1 + 2", "A", End::kEndOfList},
    {"lone minus at the end", "=+1 -", "A", End::kEndOfList},
    {"two signs", "=+1 +-2", "A", End::kEndOfList},
    {"signs and leading zeros", "=+007 +7 -0 +0 0000000000000000000027", "GG\r\n\r\na",
     End::kEndOfList},
    {"codes need no white space between them", "=+1+2-0", "AB\r\n", End::kEndOfList},
    {"carriage return joins digits", "=+1\r2 3", "LC", End::kEndOfList},
    {"carriage return then line feed separates", "=+1\r\n2", "AB", End::kEndOfList},
    {"carriage return after a sign", "=+-\r0 +\r\r1", "\r\nA", End::kEndOfList},
    {"ctrl-z ends a complete code",
     "=+27 28\x1A"
     "29",
     "ab", End::kEndOfList},
    {"ctrl-z after a sign",
     "=+27 -\x1A"
     "5",
     "a", End::kEndOfList},
    {"a later marker ends the list", "=+1 =+ 2", "A", End::kEndOfList},
    {"first code past the table", "=+27 256 28", "a", End::kCodeOutOfRange, 256},
    {"negative code", "=+27 -1 28", "a", End::kCodeOutOfRange, -1},
    {"nine digits", "=+-9\r87654321", "", End::kCodeOutOfRange, -987654321},
    {"past 32 bits does not wrap into range", "=+27 4294967323", "a",
     End::kCodeOutOfRange, 1'000'000'000},
    {"past 64 bits", "=+-18446744073709551643", "", End::kCodeOutOfRange, -1'000'000'000},
    {"leading zeros do not count", "=+0255 00000000000000000256", std::string(1, '\0'),
     End::kCodeOutOfRange, 256},
    {"nothing after the list's end is read", "=+27 x 256", "a", End::kEndOfList},
};

TEST(EncodedReaderTest, DecodesWholeByteByByteAndSplitAnywhere) {
  for (const Row& row : kRows) {
    const Decoded expected{row.end, row.text, false, row.code};
    EXPECT_EQ(testing::plainReading(row.input), expected)
        << row.name << ", plain reading";
    EXPECT_EQ(decodeInPieces(row.input, {0}), expected) << row.name << ", whole";
    EXPECT_EQ(decodeInPieces(row.input, {1}), expected) << row.name << ", byte by byte";
    for (std::size_t split = 1; split < row.input.size(); ++split) {
      EXPECT_EQ(decodeInPieces(row.input, {split, 0}), expected)
          << row.name << ", split at " << split;
    }
  }
}

TEST(EncodedReaderTest, EndedReaderTakesNoMore) {
  EncodedReader reader;
  unsigned char out[EncodedReader::maxOutput(4)];
  const auto feed = [&](const char* bytes) {
    return reader.feed(reinterpret_cast<const unsigned char*>(bytes), 4, out);
  };
  EXPECT_EQ(feed("=+27"), 0u);
  EXPECT_EQ(feed("\x1A 28"), 1u);
  EXPECT_TRUE(reader.ended());
  EXPECT_EQ(feed(" 29 "), 0u);
  EXPECT_EQ(reader.finish(out), 0u);
  EXPECT_EQ(reader.end(), End::kEndOfList);
}

}  // namespace
}  // namespace quarvend
