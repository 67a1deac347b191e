// The writing side of the DOS text conventions.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/byte_stream.h"

namespace quarvend {

// Writes bytes to a sink as a DOS text file: every line feed goes out as
// carriage return and line feed, every other byte unchanged. Bytes are
// buffered and handed to the sink a block at a time. The writer remembers
// whether any byte ever failed to reach the sink, so that a failure in the
// middle of a run is not lost behind a later successful flush.
class DosTextWriter {
 public:
  static constexpr unsigned char kLineFeed = 10;
  static constexpr unsigned char kCarriageReturn = 13;
  static constexpr std::size_t kDefaultBufferSize = std::size_t{128} << 10;

  // Writes to `sink`, which must outlive the writer. `bufferSize` is at least 2.
  explicit DosTextWriter(ByteSink& sink, std::size_t bufferSize = kDefaultBufferSize);

  // Writes one byte by the rule above. A failure is remembered, not reported.
  void put(unsigned char byte) {
    if (capacity_ - used_ < 2) flush();
    if (byte == kLineFeed) buffer_[used_++] = kCarriageReturn;
    buffer_[used_++] = byte;
  }

  // Writes every byte of `text` through put.
  void write(std::string_view text) {
    for (char byte : text) put(static_cast<unsigned char>(byte));
  }

  // Hands the buffered bytes to the sink. Returns false when this or any
  // earlier hand-over failed.
  bool flush();

  // Counts the output as failed although no write has failed yet (for a
  // stream that was already unusable when the run began).
  void markFailed() { failed_ = true; }

  bool failed() const { return failed_; }

  // Flushes and closes the sink. Returns -1 when any byte written through this
  // writer failed to reach the sink or the close failed, and 0 otherwise.
  int close();

 private:
  ByteSink& sink_;
  std::size_t capacity_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace quarvend
