// The reading side of the DOS text conventions.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/byte_stream.h"

namespace quarvend {

// Delivers the bytes of a source as a DOS text file: every carriage return is
// dropped wherever it stands, the first Ctrl-Z ends the input, and a read error
// counts as the end. The source is read in blocks, so memory stays the same
// whatever the input's size.
class DosTextReader {
 public:
  static constexpr int kEnd = -1;
  static constexpr unsigned char kCarriageReturn = 13;
  static constexpr unsigned char kEndOfFileMark = 26;  // Ctrl-Z
  static constexpr std::size_t kDefaultBlockSize = std::size_t{128} << 10;

  // Reads `source`, which must outlive the reader, `blockSize` bytes at a time.
  explicit DosTextReader(ByteSource& source, std::size_t blockSize = kDefaultBlockSize);

  // The next delivered byte (0 to 255), or kEnd once the input has ended; it
  // keeps returning kEnd after that.
  int get() {
    do {
      while (next_ < limit_) {
        const unsigned char byte = block_[next_++];
        if (byte == kCarriageReturn) continue;
        if (byte == kEndOfFileMark) {
          endInput();
          return kEnd;
        }
        return byte;
      }
    } while (refill());
    return kEnd;
  }

  // The unread bytes of the current block exactly as the source gave them,
  // before the carriage-return and Ctrl-Z rules: for a bulk scanner that
  // applies those rules itself. Empty once the input has ended. skipRaw(count)
  // marks the first `count` of them (count <= their number) as read.
  const unsigned char* rawBegin() const { return block_.get() + next_; }
  std::size_t rawSize() const { return limit_ - next_; }
  void skipRaw(std::size_t count) { next_ += count; }

  // Closes the source. Returns 0, or -1 when the close failed.
  int close();

 private:
  // Reads the next block; false once the input has ended.
  bool refill();
  void endInput();

  ByteSource& source_;
  std::size_t blockSize_;
  std::unique_ptr<unsigned char[]> block_;
  std::size_t next_ = 0;   // first unread byte of the current block
  std::size_t limit_ = 0;  // end of the current block's valid bytes
  bool ended_ = false;     // end of data, read error or Ctrl-Z seen: never read again
};

}  // namespace quarvend
