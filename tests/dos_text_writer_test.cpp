// The output: line feeds become CR LF even on a buffer edge, every other byte
// passes untouched, each flush reaches the newest sink first, and a sink's
// first failure is its last, so that it keeps an exact prefix of the text.

#include "io/dos_text_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvend {
namespace {

// Logs each write by the sink's name; can fail a chosen write or the close.
class MemorySink final : public ByteSink {
 public:
  MemorySink(char name, std::string& log) : name_(name), log_(log) {}
  bool write(const unsigned char* data, std::size_t size, std::string& reason) override {
    if (writes++ == failingWrite) {
      reason = "No space left on device";
      return false;
    }
    bytes.append(reinterpret_cast<const char*>(data), size);
    log_ += name_;
    return true;
  }
  bool close(std::string& reason) override {
    if (!closeSucceeds) reason = "Input/output error";
    return closeSucceeds;
  }

  std::string bytes;
  int writes = 0;
  int failingWrite = -1;
  bool closeSucceeds = true;

 private:
  char name_;
  std::string& log_;
};

TEST(DosTextWriterTest, WritesDosTextAtEveryBufferSize) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
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
      std::string log;
      MemorySink sink('s', log);
      std::vector<unsigned char> buffer(size);
      DosTextWriter writer(buffer.data(), size);
      const std::size_t number = writer.addSink(sink);
      writer.write(row.text);
      EXPECT_TRUE(writer.close(number));
      EXPECT_EQ(sink.bytes, row.onDisk) << "buffer " << size;
    }
  }
}

// Whatever fails, each sink holds an exact prefix of the text, gets no write
// after its first failure, and the other sink still gets all of it.
TEST(DosTextWriterTest, EachSinkKeepsItsOwnFailure) {
  struct Row {
    const char* name;
    int fileFailingWrite;
    bool fileCloses;
    int consoleFailingWrite;
  };
  const Row rows[] = {
      {"all well", -1, true, -1},
      {"file fails first", 0, true, -1},
      {"file fails in the middle", 1, true, -1},
      {"file close fails", -1, false, -1},
      {"console fails in the middle", -1, true, 1},
  };
  const std::string text = "abcdefghij";
  for (const Row& row : rows) {
    std::string log;
    MemorySink console('c', log);
    MemorySink file('f', log);
    file.failingWrite = row.fileFailingWrite;
    file.closeSucceeds = row.fileCloses;
    console.failingWrite = row.consoleFailingWrite;
    unsigned char buffer[4];
    DosTextWriter writer(buffer, sizeof buffer);
    const std::size_t consoleNumber = writer.addSink(console);
    const std::size_t fileNumber = writer.addSink(file);
    writer.write(text);
    const bool fileWhole = row.fileFailingWrite < 0 && row.fileCloses;
    EXPECT_EQ(writer.close(fileNumber), fileWhole) << row.name;
    EXPECT_EQ(writer.reason(fileNumber), fileWhole        ? ""
                                         : row.fileCloses ? "No space left on device"
                                                          : "Input/output error")
        << row.name;
    EXPECT_EQ(writer.close(consoleNumber), row.consoleFailingWrite < 0) << row.name;
    for (const auto& [sink, failing] :
         {std::pair{&file, row.fileFailingWrite}, {&console, row.consoleFailingWrite}}) {
      EXPECT_TRUE(text.starts_with(sink->bytes)) << row.name;
      EXPECT_EQ(sink->bytes == text, failing < 0) << row.name;
      if (failing >= 0) EXPECT_EQ(sink->writes, failing + 1) << row.name;
    }
    // The file, the newer sink, is written first.
    if (row.fileFailingWrite != 0) EXPECT_EQ(log[0], 'f') << row.name;
  }
}

}  // namespace
}  // namespace quarvend
