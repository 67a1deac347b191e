// The portable encoding kernel, and the reference for the others: four codes
// per two table loads while they fit on the line, one at a time near its end.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "encode/encode_kernels.h"

namespace quarvend {
namespace {

// Two bytes' codes as they stand after others on a line: both entries laid
// end to end, so that one load and one store take two codes.
struct PairText {
  unsigned char bytes[8];   // all eight always stored
  std::uint8_t size;        // how many count: 4 to 8, or kStops when either byte stops
  unsigned char unused[7];  // keeps each entry in one 16-byte piece
};

// The entry of bytes (first, second) at first | second << 8, made from
// kCodeTexts on first use, in storage of its own, so that nothing allocates.
const PairText* pairTexts() {
  static PairText table[SymbolTable::kSize * SymbolTable::kSize];
  static const bool built = [] {
    for (std::size_t first = 0; first < SymbolTable::kSize; ++first) {
      for (std::size_t second = 0; second < SymbolTable::kSize; ++second) {
        PairText& pair = table[first | second << 8];
        const CodeText& a = kCodeTexts[first];
        const CodeText& b = kCodeTexts[second];
        if (a.size == kStops || b.size == kStops) {
          pair.size = kStops;
          continue;
        }
        std::memcpy(pair.bytes, a.bytes, 4);
        std::memcpy(pair.bytes + a.size, b.bytes, 4);
        pair.size = static_cast<std::uint8_t>(a.size + b.size);
      }
    }
    return true;
  }();
  (void)built;
  return table;
}

enum class Step {
  kStopped,  // the byte needs a rule of its own; nothing moved
  kOnLine,   // the code went on the line
  kPassed,   // a new line started, or a carriage return went with its line feed
};

// Lays out the code of *at, which lies before `limit`, and moves past it.
inline Step encodeOne(const unsigned char*& at, const unsigned char* limit,
                      unsigned char*& to, std::size_t& width) {
  const CodeText& text = kCodeTexts[*at];
  if (text.size == kStops) {
    // A carriage return before a line feed is part of that line end.
    if (*at != kLineEndFirst || limit - at < 2 || at[1] != kLineFeed)
      return Step::kStopped;
    ++at;
    return Step::kPassed;
  }
  ++at;
  if (width + text.size <= kLineWidth) {
    std::memcpy(to, text.bytes, sizeof text.bytes);
    to += text.size;
    width += text.size;
    return Step::kOnLine;
  }
  // The code starts a new line: the line end takes the place of its space.
  std::memcpy(to + kLineEnd.size - 1, text.bytes, sizeof text.bytes);
  std::memcpy(to, kLineEnd.bytes, kLineEnd.size);
  to += kLineEnd.size - 1 + text.size;
  width = text.size - 1u;
  return Step::kPassed;
}

}  // namespace

const unsigned char* encodeRunPortable(const unsigned char* at,
                                       const unsigned char* limit, unsigned char*& out,
                                       std::size_t& lineWidth) {
  unsigned char* to = out;
  std::size_t width = lineWidth;
  const PairText* const pairs = pairTexts();
  for (;;) {
    // Four codes at a time, as two pairs, while they fit on the line; the
    // one test of the width also finds a byte that stops the run.
    while (limit - at >= 4) {
      const PairText& p = pairs[at[0] | at[1] << 8];
      const PairText& q = pairs[at[2] | at[3] << 8];
      const std::size_t sizes = p.size + q.size;
      if (width + sizes > kLineWidth) break;
      std::memcpy(to, p.bytes, 8);
      std::memcpy(to + p.size, q.bytes, 8);
      to += sizes;
      width += sizes;
      at += 4;
    }
    // The line is about full, or a byte that stops the run is near: one
    // code at a time, back to the pairs once a new line starts or a line end
    // is passed.
    for (;;) {
      if (at == limit) goto done;
      const Step step = encodeOne(at, limit, to, width);
      if (step == Step::kStopped) goto done;
      if (step == Step::kPassed) break;
    }
  }
done:
  out = to;
  lineWidth = width;
  return at;
}

const unsigned char* encodeRunSingly(const unsigned char* at, const unsigned char* limit,
                                     unsigned char*& out, std::size_t& width) {
  while (at != limit && encodeOne(at, limit, out, width) != Step::kStopped) {
  }
  return at;
}

LineFeeds countLineFeedsPortable(const unsigned char* text, std::size_t size) {
  const unsigned char* const end = text + size;
  // Counted in runs short enough for a byte-wide count, which the compiler
  // does many bytes at a time.
  LineFeeds lines;
  for (const unsigned char* run = text; run < end;) {
    const unsigned char* const runEnd = end - run > 255 ? run + 255 : end;
    std::uint8_t count = 0;
    for (; run < runEnd; ++run) count += *run == kLineFeed;
    lines.count += count;
  }
  const auto lastLineFeed = lines.count == 0
                                ? std::make_reverse_iterator(text)
                                : std::find(std::make_reverse_iterator(end),
                                            std::make_reverse_iterator(text), kLineFeed);
  lines.after =
      static_cast<std::uint64_t>(lastLineFeed - std::make_reverse_iterator(end));
  return lines;
}

}  // namespace quarvend
