// The DOS text conventions both programs follow, each in one place: what the
// reading side drops and where it stops, and what the writing side makes of a
// line feed.
#pragma once

#include <cstddef>

namespace quarvend {

inline constexpr unsigned char kLineFeed = 10;
inline constexpr unsigned char kCarriageReturn = 13;
inline constexpr unsigned char kEndOfFileMark = 26;  // Ctrl-Z

// The reading side: every carriage return is dropped wherever it stands, and
// the first Ctrl-Z ends the input. The decoder applies both as it goes: in
// the lead-in the search for the start marker stops at a Ctrl-Z, and in the
// number list a Ctrl-Z can neither start nor continue a code, so the list
// ends right there, with a code before it complete, exactly as if the input
// ended. The encoder reads its text the same way, but takes a carriage return
// only as the first byte of a line end, as the writing side makes it.
constexpr bool isDroppedOnReading(int byte) { return byte == kCarriageReturn; }
constexpr bool endsInput(int byte) { return byte == kEndOfFileMark; }

// The writing side: a line feed goes out as carriage return and line feed,
// every other byte unchanged. Decoded text takes this form from kCodeOutputs,
// which is derived from it, and messages through DosTextWriter::put.
struct OnDiskForm {
  unsigned char bytes[2];  // both always stored, so that a copy needs no branch
  unsigned char size;      // how many of them count: 1, or 2 for a line feed
  unsigned char unused;    // keeps the form at four bytes, one load
};

inline constexpr std::size_t kMaxFormSize = 2;

constexpr OnDiskForm onDiskForm(unsigned char byte) {
  if (byte == kLineFeed) return {{kCarriageReturn, kLineFeed}, 2, 0};
  return {{byte, byte}, 1, 0};
}

// A line end in on-disk form, as the encoder writes it. Reading a text in
// on-disk form, as the encoder does, a carriage return is taken only as the
// first byte of a line end, which a line feed completes.
inline constexpr OnDiskForm kLineEnd = onDiskForm(kLineFeed);
inline constexpr unsigned char kLineEndFirst = kLineEnd.bytes[0];
static_assert(kLineEnd.size == 2 && kLineEnd.bytes[1] == kLineFeed);

}  // namespace quarvend
