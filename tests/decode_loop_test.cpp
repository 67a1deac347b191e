// The decode loop: both writers receive the same bytes in code order, and a
// code outside the table stops decoding with nothing written for it.

#include "cli/decode_loop.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_streams.h"

namespace quarvend {
namespace {

using testing::MemorySink;
using testing::MemorySource;

TEST(DecodeLoopTest, StopsAtTheFirstCodeOutsideTheTable) {
  struct Row {
    std::string list;
    std::string text;
    DecodeEnd end;
  };
  const Row rows[] = {
      {"27 28 29", "abc", DecodeEnd::kEndOfList},
      {"0 27 0", "\r\na\r\n", DecodeEnd::kEndOfList},
      {"191 255", std::string(2, '\0'), DecodeEnd::kEndOfList},
      {"27 256 28", "a", DecodeEnd::kCodeOutOfRange},
      {"27 -1 28", "a", DecodeEnd::kCodeOutOfRange},
      {"27 4294967323 28", "a", DecodeEnd::kCodeOutOfRange},
      {"27 -4294967296", "a", DecodeEnd::kCodeOutOfRange},
      {"27 28 x 256", "ab", DecodeEnd::kEndOfList},
  };
  SymbolTable table;
  table.build();
  for (const Row& row : rows) {
    MemorySource source("=+" + row.list);
    EncodedReader reader(source);
    ASSERT_TRUE(reader.findStartMarker());
    MemorySink fileSink;
    MemorySink consoleSink;
    DosTextWriter file(fileSink);
    DosTextWriter console(consoleSink);
    EXPECT_EQ(decodeAll(reader, table, &file, console), row.end) << row.list;
    file.close();
    console.close();
    EXPECT_EQ(fileSink.bytes, row.text) << row.list;
    EXPECT_EQ(consoleSink.bytes, row.text) << row.list;
  }
}

}  // namespace
}  // namespace quarvend
