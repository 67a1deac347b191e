// The DOS text writer: line feeds become CR LF even on a buffer edge, every
// other byte passes untouched, and a failure anywhere makes close report -1.

#include "cli/dos_text_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_streams.h"

namespace quarvend {
namespace {

using testing::MemorySink;

TEST(DosTextWriterTest, WritesDosTextAtEveryBufferSize) {
  const std::string all = [] {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    return bytes;
  }();
  std::string allOnDisk = all;
  allOnDisk.replace(10, 1, "\r\n");

  struct Row {
    std::string text;
    std::string onDisk;
  };
  const Row rows[] = {
      {"", ""},           {"\n", "\r\n"}, {"a\nb\n\n", "a\r\nb\r\n\r\n"},
      {"\r\n", "\r\r\n"},  // a carriage return is an ordinary byte here
      {all, allOnDisk},
  };
  for (const Row& row : rows) {
    for (std::size_t size : {2u, 3u, 4u, 5u, 1024u}) {
      MemorySink sink;
      DosTextWriter writer(sink, size);
      writer.write(row.text);
      EXPECT_EQ(writer.close(), 0);
      EXPECT_EQ(sink.bytes, row.onDisk) << "buffer " << size;
      EXPECT_TRUE(sink.closed);
    }
  }
}

TEST(DosTextWriterTest, HoldsBytesUntilTheBufferFills) {
  MemorySink sink;
  DosTextWriter writer(sink, 4);
  writer.write("abc");
  EXPECT_EQ(sink.writes(), 0);
  writer.write("\n");  // CR LF does not fit beside "abc"
  EXPECT_EQ(sink.bytes, "abc");
  EXPECT_TRUE(writer.flush());
  EXPECT_EQ(sink.bytes, "abc\r\n");
}

TEST(DosTextWriterTest, AnyLostByteMakesCloseFail) {
  struct Row {
    const char* name;
    int failingWrite;
    bool closeSucceeds;
    bool startsFailed;
    int result;
  };
  const Row rows[] = {
      {"all well", -1, true, false, 0},
      {"first block lost", 0, true, false, -1},
      {"middle block lost", 1, true, false, -1},
      {"last flush lost", 3, true, false, -1},
      {"close fails", -1, false, false, -1},
      {"unusable from the start", -1, true, true, -1},
  };
  for (const Row& row : rows) {
    MemorySink sink;
    sink.failingWrite = row.failingWrite;
    sink.closeSucceeds = row.closeSucceeds;
    DosTextWriter writer(sink, 4);
    if (row.startsFailed) writer.markFailed();
    writer.write("abcdefghij");  // room for CR LF is kept: abc, def, ghi, j
    EXPECT_EQ(writer.close(), row.result) << row.name;
    EXPECT_EQ(sink.writes(), 4) << row.name << ": writing did not go on after a failure";
  }
}

}  // namespace
}  // namespace quarvend
