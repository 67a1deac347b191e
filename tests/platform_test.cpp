// The platform layer's files: bytes pass through exactly as they are, with no
// line-end or end-of-file translation by the C runtime on the way in or out,
// so that the tool's own DOS text rules are the only ones applied.

#include "platform/platform.h"

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
    int fd = -1;
    ASSERT_TRUE(platform::openForReading(nativeName(path), fd, reason)) << reason;
    std::string got;
    unsigned char buffer[4];
    std::size_t n = 0;
    while (platform::readSome(fd, buffer, sizeof buffer, n, reason) && n > 0) {
      got.append(reinterpret_cast<const char*>(buffer), n);
    }
    EXPECT_TRUE(platform::closeFile(fd, reason));
    EXPECT_EQ(got, bytes);
  }
}

TEST(FileIoTest, WritingStoresTheBytesGiven) {
  ScratchFolder scratch;
  for (const std::string& bytes : kRawBytes) {
    const auto path = scratch.path() / "out";
    writeBytes(path, "older and longer content");
    std::string reason;
    int fd = -1;
    ASSERT_TRUE(platform::openForWriting(nativeName(path), fd, reason)) << reason;
    ASSERT_TRUE(platform::emptyFile(fd, reason)) << reason;
    EXPECT_TRUE(platform::writeAll(
        fd, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), reason));
    EXPECT_TRUE(platform::closeFile(fd, reason));
    EXPECT_EQ(readBytes(path), bytes);
  }
}

}  // namespace
}  // namespace quarvend
