// Reading ahead: whichever thread makes each read, the caller gets every
// piece once and in order, with the line feeds of that piece, and a failed
// read where it happened, after all that was read before it.

#include "pipeline/read_ahead.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/plain_reading.h"

namespace quarvend {
namespace {

TEST(ReadAheadTest, PiecesComeInOrderAndAFailureWhereItHappened) {
  constexpr std::size_t kRead = ReadAheadBuffers::kReadSize;
  std::mt19937 random(25);
  std::string text(5 * kRead + 1000, ' ');
  for (char& byte : text) byte = static_cast<char>(random() % 16 == 0 ? '\n' : 'a');
  static ReadAheadBuffers* const buffers = new ReadAheadBuffers;
  // Where the text fails: nowhere, at once, at a read's start, within a
  // piece, and at the last byte.
  for (const std::size_t failAt :
       {std::string::npos, std::size_t{0}, kRead, 3 * kRead + 5, text.size() - 1}) {
    for (const bool threaded : {false, true}) {
      // Threads interleave differently from one round to the next.
      for (int round = 0; round < (threaded ? 20 : 1); ++round) {
        testing::StringSource source(text, failAt);
        ReadAhead ahead(source, *buffers, threaded);
        std::string got, reason;
        const unsigned char* block = nullptr;
        const LineFeeds* lines = nullptr;
        std::size_t size = 0;
        bool read = true;
        while ((read = ahead.next(block, size, lines, reason)) && size > 0) {
          const LineFeeds expected =
              usableEncodeKernels().back().countLineFeeds(block, size);
          ASSERT_EQ(lines->count, expected.count) << got.size();
          ASSERT_EQ(lines->after, expected.after) << got.size();
          got.append(reinterpret_cast<const char*>(block), size);
        }
        const std::string where = std::to_string(failAt) + (threaded ? " threaded" : "");
        EXPECT_EQ(read, failAt == std::string::npos) << where;
        EXPECT_EQ(reason, read ? "" : "Input/output error") << where;
        ASSERT_TRUE(got == text.substr(0, failAt)) << where << ": " << got.size();
      }
    }
  }
}

}  // namespace
}  // namespace quarvend
