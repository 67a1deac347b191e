// Reading ahead: whichever thread makes each read and takes each piece, the
// taker gets every piece once and in order, with the line feeds of that
// piece, and a failed read where it happened, after all that was read before
// it.

#include "pipeline/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "support/plain_reading.h"

namespace quarvend {
namespace {

// Keeps the pieces, checking each one's line feeds. A slow one, at the end of
// each read's pieces, waits until the reads after it fill every slot, so that
// the other thread has to wait for it and takes over.
struct Taker final : PieceTaker {
  const testing::StringSource* slowOn = nullptr;
  std::string got;
  bool ended = false;
  std::size_t onSecond = 0;  // pieces taken on the second thread
  bool take(std::size_t worker, const unsigned char* block, std::size_t size,
            const LineFeeds& lines) override {
    constexpr std::size_t kRead = ReadAheadBuffers::kReadSize;
    const LineFeeds expected = usableEncodeKernels().back().countLineFeeds(block, size);
    EXPECT_EQ(lines.count, expected.count) << got.size();
    EXPECT_EQ(lines.after, expected.after) << got.size();
    got.append(reinterpret_cast<const char*>(block), size);
    ended = size == 0;
    onSecond += worker;
    if (slowOn != nullptr && got.size() % kRead == 0) {
      const std::size_t full =
          std::min(slowOn->all.size(),
                   (got.size() / kRead + ReadAheadBuffers::kSlots - 1) * kRead);
      while (slowOn->at < full) std::this_thread::yield();
      // Time for the reading thread to mark its read done.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return size > 0;
  }
};

TEST(ReadAheadTest, PiecesComeInOrderAndAFailureWhereItHappened) {
  constexpr std::size_t kRead = ReadAheadBuffers::kReadSize;
  std::mt19937 random(25);
  // The reading thread takes over from a slow taker after a few reads, which
  // the text has several times over.
  constexpr std::size_t kHandOverAfter = 4;
  std::string text(4 * kHandOverAfter * kRead + 1000, ' ');
  for (char& byte : text) byte = static_cast<char>(random() % 16 == 0 ? '\n' : 'a');
  static ReadAheadBuffers* const buffers = new ReadAheadBuffers;
  struct Row {
    std::size_t failAt;  // where the text fails: npos for nowhere
    bool threaded;
    bool slow;   // a slow taker, so that the taking moves to the second thread
    int rounds;  // threads interleave differently from one round to the next
  };
  const std::size_t late = 3 * kHandOverAfter * kRead + 5;
  const Row rows[] = {
      {std::string::npos, false, false, 1},
      {0, false, false, 1},
      {kRead, false, false, 1},
      {3 * kRead + 5, false, false, 1},
      {text.size() - 1, false, false, 1},
      {std::string::npos, true, false, 5},
      {0, true, false, 5},
      {kRead, true, false, 5},
      {3 * kRead + 5, true, false, 5},
      {text.size() - 1, true, false, 5},
      {std::string::npos, true, true, 2},
      {late, true, true, 2},
  };
  for (const Row& row : rows) {
    for (int round = 0; round < row.rounds; ++round) {
      testing::StringSource source(text, row.failAt);
      ReadAhead ahead(source, *buffers, row.threaded, kHandOverAfter);
      Taker taker;
      if (row.slow) taker.slowOn = &source;
      std::string reason;
      const bool read = ahead.handOut(taker, reason);
      const std::string where = std::to_string(row.failAt) +
                                (row.threaded ? " threaded" : "") +
                                (row.slow ? " slow" : "");
      EXPECT_EQ(read, row.failAt == std::string::npos) << where;
      EXPECT_EQ(reason, read ? "" : "Input/output error") << where;
      EXPECT_EQ(taker.ended, read) << where;
      ASSERT_TRUE(taker.got == text.substr(0, row.failAt))
          << where << ": " << taker.got.size();
      if (row.slow) EXPECT_GT(taker.onSecond, 0u) << where;
      if (!row.threaded) EXPECT_EQ(taker.onSecond, 0u) << where;
    }
  }
}

}  // namespace
}  // namespace quarvend
