// The platform layer's files: bytes pass through exactly as they are, with no
// line-end or end-of-file translation by the C runtime on the way in or out,
// so that the tool's own DOS text rules are the only ones applied.

#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_tool.h"

namespace quarvend {
namespace {

using testing::readBytes;
using testing::ScratchFolder;
using testing::writeBytes;

platform::NativeName nativeName(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return path.string();
#endif
}

const std::string kRawBytes[] = {
    std::string("a\nb"),
    std::string("a\r\nb\rc\r"),
    std::string("before\x1A"
                "after\x1A",
                13),
    std::string("\0\xFF\r\n\x1A\n", 6),
};

TEST(FileIoTest, ReadingGivesTheFilesBytes) {
  ScratchFolder scratch;
  for (const std::string& bytes : kRawBytes) {
    const auto path = scratch.path() / "in";
    writeBytes(path, bytes);
    std::string reason;
    const int fd = platform::openForReading(nativeName(path), reason);
    ASSERT_GE(fd, 0) << reason;
    platform::FileSource source(fd);
    std::string got;
    unsigned char buffer[4];
    for (std::ptrdiff_t n; (n = source.read(buffer, sizeof buffer)) > 0;) {
      got.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(source.close());
    EXPECT_EQ(got, bytes);
  }
}

TEST(FileIoTest, WritingStoresTheBytesGiven) {
  ScratchFolder scratch;
  for (const std::string& bytes : kRawBytes) {
    const auto path = scratch.path() / "out";
    writeBytes(path, "older and longer content");
    std::string reason;
    const int fd = platform::openForWriting(nativeName(path), reason);
    ASSERT_GE(fd, 0) << reason;
    ASSERT_TRUE(platform::emptyFile(fd, reason)) << reason;
    platform::FileSink sink(fd);
    EXPECT_TRUE(
        sink.write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(sink.close());
    EXPECT_EQ(readBytes(path), bytes);
  }
}

}  // namespace
}  // namespace quarvend
