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

  // The most bytes one byte can turn into on disk.
  static constexpr std::size_t kMaxFormSize = 2;

  // Stores the on-disk form of `byte` in form[0] and, when it has two bytes,
  // form[1], and returns its length (1 or 2). form[1] is written either way, so
  // that callers may copy both bytes unconditionally. This is the only place
  // that knows the line-feed rule; put and every bulk caller go through it.
  static constexpr std::size_t onDiskForm(unsigned char byte, unsigned char form[2]) {
    const bool lineFeed = byte == kLineFeed;
    form[0] = lineFeed ? kCarriageReturn : byte;
    form[1] = byte;
    return lineFeed ? 2 : 1;
  }

  // Writes one byte by the rule above. The buffer is flushed first whenever
  // fewer than kMaxFormSize bytes are free. A failure is remembered, not
  // reported.
  void put(unsigned char byte) {
    if (capacity_ - used_ < kMaxFormSize) flush();
    // A predicted branch on the (rare) two-byte form keeps the next byte's
    // position from waiting on this byte's value.
    if (const std::size_t size = onDiskForm(byte, &buffer_[used_]); size == 1)
        [[likely]] {
      ++used_;
    } else {
      used_ += size;
    }
  }

  // Writes every byte of `text` through put.
  void write(std::string_view text) {
    for (char byte : text) put(static_cast<unsigned char>(byte));
  }

  // Bulk writing, for a caller that stores on-disk forms (see onDiskForm)
  // straight into the buffer: room() bytes are free at freeSpace(), and
  // commit(count) adds the first `count` of them to the buffered output
  // (count <= room()). Neither flushes, so a caller that wants the flushes to
  // fall where put would make them stores forms only while at least
  // kMaxFormSize bytes are free at the start of each one.
  std::size_t room() const { return capacity_ - used_; }
  unsigned char* freeSpace() { return buffer_.get() + used_; }
  void commit(std::size_t count) { used_ += count; }

  // Appends bytes that are already in on-disk form, flushing whenever the
  // buffer fills up.
  void putOnDisk(const unsigned char* bytes, std::size_t size);

  // Hands the buffered bytes to the sink. Returns false when this or any
  // earlier hand-over failed.
  bool flush();

  // Counts the output as failed although no write has failed yet (for a
  // stream that was already unusable when the run began).
  void markFailed() { failed_ = true; }

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
