// The DOS text conventions, each in one place: what the reading side drops and
// where it stops, and what the writing side makes of a line feed.
#pragma once

#include <cstddef>
#include <cstring>

namespace quarvend {

// The reading side. Every carriage return is dropped wherever it stands, and
// the first Ctrl-Z ends the input. EncodedReader applies both to each block it
// is fed; nothing else reads the input.
struct DosTextReader {
  static constexpr unsigned char kCarriageReturn = 13;
  static constexpr unsigned char kEndOfFileMark = 26;  // Ctrl-Z

  // How many bytes of block[0..size) are text: those before the first Ctrl-Z.
  static std::size_t textLength(const unsigned char* block, std::size_t size) {
    const void* mark = size == 0 ? nullptr : std::memchr(block, kEndOfFileMark, size);
    return mark == nullptr ? size
                           : static_cast<std::size_t>(
                                 static_cast<const unsigned char*>(mark) - block);
  }
};

// The writing side: a line feed goes out as carriage return and line feed,
// every other byte unchanged. Decoded text takes this form from kCodeOutputs,
// which is derived from it, and messages through DosTextWriter::put.
struct OnDiskForm {
  unsigned char bytes[2];  // both always stored, so that a copy needs no branch
  unsigned char size;      // how many of them count: 1, or 2 for a line feed
  unsigned char unused;    // keeps the form at four bytes, one load
};

inline constexpr unsigned char kLineFeed = 10;
inline constexpr std::size_t kMaxFormSize = 2;

constexpr OnDiskForm onDiskForm(unsigned char byte) {
  if (byte == kLineFeed) return {{DosTextReader::kCarriageReturn, kLineFeed}, 2, 0};
  return {{byte, byte}, 1, 0};
}

}  // namespace quarvend
