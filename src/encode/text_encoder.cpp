#include "encode/text_encoder.h"

#include <algorithm>
#include <cstring>

#include "format/ostrevic.h"

namespace quarvend {
namespace {

// A code as it stands after another on its line: a space, then its digits.
struct CodeText {
  unsigned char bytes[4];   // all four always stored, so that a copy needs no branch
  std::uint8_t size;        // how many of them count: 2 to 4, or kStops
  unsigned char unused[3];  // keeps the entry at eight bytes, one load
};

// The size of a byte that needs a rule of its own: larger than any line, so
// that one test of the width also finds such a byte.
constexpr std::uint8_t kStops = 128;
// A line's width is kept in a byte, and a stopping byte overflows any line.
static_assert(TextEncoder::kLineWidth < kStops,
              "kStops must stay above the line width for the width test to find it");

constexpr std::array<CodeText, SymbolTable::kSize> kCodeTexts = [] {
  std::array<CodeText, SymbolTable::kSize> texts{};
  for (std::size_t byte = 0; byte < texts.size(); ++byte) {
    const int code = kCodeForByte[byte];
    if (code == kNoCode) {
      texts[byte].size = kStops;
      continue;
    }
    const int digits = code >= 100 ? 3 : code >= 10 ? 2 : 1;
    CodeText& text = texts[byte];
    text.bytes[0] = ' ';
    for (int at = digits, rest = code; at > 0; --at, rest /= 10)
      text.bytes[at] = static_cast<unsigned char>('0' + rest % 10);
    text.size = static_cast<std::uint8_t>(1 + digits);
  }
  return texts;
}();

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

constexpr OnDiskForm kLineEnd = onDiskForm(kLineFeed);

// The start marker's line counts as full, so that the first code starts a
// line of its own.
constexpr std::uint8_t kMarkerLineWidth = TextEncoder::kLineWidth;

}  // namespace

std::size_t TextEncoder::startFile(unsigned char* out) {
  started_ = true;
  lineWidth_ = kMarkerLineWidth;
  out[0] = kMarkerFirst;
  out[1] = kMarkerSecond;
  return 2;
}

const unsigned char* TextEncoder::encodeRun(const unsigned char* at,
                                            const unsigned char* limit,
                                            unsigned char*& out) {
  unsigned char* to = out;
  std::size_t width = lineWidth_;
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
      const CodeText& text = kCodeTexts[*at];
      if (text.size == kStops) {
        // A carriage return before a line feed is part of that line end.
        if (*at != kLineEndFirst || limit - at < 2 || at[1] != kLineFeed) goto done;
        ++at;
        break;
      }
      ++at;
      if (width + text.size <= kLineWidth) {
        std::memcpy(to, text.bytes, sizeof text.bytes);
        to += text.size;
        width += text.size;
        continue;
      }
      // The code starts a new line: the line end takes the place of its space.
      std::memcpy(to + kLineEnd.size - 1, text.bytes, sizeof text.bytes);
      std::memcpy(to, kLineEnd.bytes, kLineEnd.size);
      to += kLineEnd.size - 1 + text.size;
      width = text.size - 1u;
      break;
    }
  }
done:
  out = to;
  lineWidth_ = static_cast<std::uint8_t>(width);
  return at;
}

void TextEncoder::passOver(const unsigned char* text, std::size_t size) {
  const unsigned char* const end = text + size;
  // Counted in runs short enough for a byte-wide count, which the compiler
  // does many bytes at a time.
  std::uint64_t lineFeeds = 0;
  for (const unsigned char* run = text; run < end;) {
    const unsigned char* const runEnd = end - run > 255 ? run + 255 : end;
    std::uint8_t count = 0;
    for (; run < runEnd; ++run) count += *run == kLineFeed;
    lineFeeds += count;
  }
  if (lineFeeds == 0) {
    lineBytes_ += size;
    return;
  }
  line_ += lineFeeds;
  const auto lastLineFeed = std::find(std::make_reverse_iterator(end),
                                      std::make_reverse_iterator(text), kLineFeed);
  lineBytes_ = static_cast<std::uint64_t>(lastLineFeed - std::make_reverse_iterator(end));
}

void TextEncoder::stopAtUncoded(unsigned char byte) {
  stage_ = Stage::kNoCode;
  uncoded_ = byte;
  // A carriage return left waiting is the last byte passed over; any other
  // byte is the next one.
  uncodedAt_ = {line_, pendingReturn_ ? lineBytes_ : lineBytes_ + 1};
  pendingReturn_ = false;
}

std::size_t TextEncoder::feed(const unsigned char* block, std::size_t size,
                              unsigned char* out) {
  if (stage_ != Stage::kText) return 0;
  unsigned char* const begin = out;
  if (!started_) out += startFile(out);
  if (size == 0) return static_cast<std::size_t>(out - begin);
  if (pendingReturn_) {
    if (block[0] != kLineFeed) {
      stopAtUncoded(kLineEndFirst);
      return static_cast<std::size_t>(out - begin);
    }
    pendingReturn_ = false;
  }
  const unsigned char* const limit = block + size;
  const unsigned char* const at = encodeRun(block, limit, out);
  if (at == limit) {
    passOver(block, size);
  } else if (*at == kLineEndFirst && at + 1 == limit) {
    passOver(block, size);
    pendingReturn_ = true;
  } else {
    passOver(block, static_cast<std::size_t>(at - block));
    if (endsInput(*at)) {
      stage_ = Stage::kMarkEnded;
    } else {
      stopAtUncoded(*at);
    }
  }
  return static_cast<std::size_t>(out - begin);
}

std::size_t TextEncoder::finish(unsigned char* out) {
  if (stage_ != Stage::kText && stage_ != Stage::kMarkEnded) return 0;
  if (pendingReturn_) {
    stopAtUncoded(kLineEndFirst);
    return 0;
  }
  std::size_t size = started_ ? 0 : startFile(out);
  std::memcpy(out + size, kLineEnd.bytes, kLineEnd.size);
  stage_ = Stage::kComplete;
  return size + kLineEnd.size;
}

}  // namespace quarvend
