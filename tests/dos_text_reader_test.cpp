// The DOS text reader: carriage returns vanish, the first Ctrl-Z ends the
// input, and both rules hold when the byte falls on a block edge.

#include "decode/dos_text_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_streams.h"

namespace quarvend {
namespace {

using testing::MemorySource;

std::string drain(DosTextReader& reader) {
  std::string delivered;
  for (int byte = reader.get(); byte != DosTextReader::kEnd; byte = reader.get()) {
    delivered.push_back(static_cast<char>(byte));
  }
  return delivered;
}

struct ReaderCase {
  const char* name;
  std::string raw;
  std::string delivered;
};

const ReaderCase kReaderCases[] = {
    {"empty", "", ""},
    {"plain", "12 34\n", "12 34\n"},
    {"crlf", "1\r\n2\r\n", "1\n2\n"},
    {"only carriage returns", "\r\r\r\r\r", ""},
    {"carriage return inside a number", "1\r2", "12"},
    {"ctrl-z ends the input",
     "ab\x1A"
     "cd",
     "ab"},
    {"ctrl-z first",
     "\x1A"
     "abc",
     ""},
    {"second ctrl-z never matters",
     "a\x1A"
     "b\x1A"
     "c",
     "a"},
    {"carriage returns before ctrl-z", "a\r\r\x1A\r", "a"},
    {"zero and high bytes pass", std::string("\0\xFF\x80", 3),
     std::string("\0\xFF\x80", 3)},
};

TEST(DosTextReaderTest, DeliversTheTextAtEveryBlockAndReadSize) {
  for (const ReaderCase& c : kReaderCases) {
    for (std::size_t block : {1u, 2u, 3u, 4u, 7u, 64u, 131072u}) {
      for (std::size_t chunk : {1u, 2u, 5u, 1u << 20}) {
        MemorySource source(c.raw, chunk);
        DosTextReader reader(source, block);
        EXPECT_EQ(drain(reader), c.delivered)
            << c.name << ", block " << block << ", chunk " << chunk;
      }
    }
  }
}

TEST(DosTextReaderTest, EndIsFinalAndReadsNothingMore) {
  MemorySource source(
      "a\x1A"
      "bcdef",
      1);
  DosTextReader reader(source, 1);
  EXPECT_EQ(reader.get(), 'a');
  EXPECT_EQ(reader.get(), DosTextReader::kEnd);
  const int readsAtEnd = source.reads();
  EXPECT_EQ(reader.get(), DosTextReader::kEnd);
  EXPECT_EQ(reader.get(), DosTextReader::kEnd);
  EXPECT_EQ(source.reads(), readsAtEnd);
}

TEST(DosTextReaderTest, ReadErrorCountsAsEnd) {
  MemorySource source("abcdef", 2);
  source.failingRead = 1;
  DosTextReader reader(source, 4);
  EXPECT_EQ(drain(reader), "ab");
  EXPECT_EQ(reader.get(), DosTextReader::kEnd);
}

TEST(DosTextReaderTest, CloseReportsTheSourcesResult) {
  MemorySource good("x");
  EXPECT_EQ(DosTextReader(good).close(), 0);
  MemorySource bad("x");
  bad.closeSucceeds = false;
  EXPECT_EQ(DosTextReader(bad).close(), -1);
}

}  // namespace
}  // namespace quarvend
