// The encoding kernel for processors with AVX-512 VBMI2: each chunk of 63 text
// bytes is looked up, spread to one slot per code and packed into lines in
// registers, a group of codes at a time.
//
// A group's texts take less than a line, so they cross at most one line end:
// where it falls is found from the packed bytes' positions alone, and the
// line end takes the place of that code's space.
#include "encode/encode_kernels.h"

#if QUARVEND_X86_KERNELS
#include <immintrin.h>

#include <cstring>

namespace quarvend {
namespace {

constexpr std::size_t kLanes = 64;  // bytes in a register
// Text bytes per step: one fewer than a register, so that three groups of 21
// short codes cover a chunk.
constexpr std::size_t kChunk = kLanes - 1;

// How far ahead the text is fetched: about 16 chunks.
constexpr std::size_t kFetchAhead = 1024;

struct ByteRow {
  unsigned char bytes[kLanes];
};

// One byte of each byte's code text, a quarter of the table per row: digit
// `place` (1 to 3), or 0 where the text has none or the byte has no code.
struct DigitTable {
  ByteRow quarter[4];
};

constexpr DigitTable digitTable(std::size_t place) {
  DigitTable table{};
  for (std::size_t byte = 0; byte < kCodeTexts.size(); ++byte) {
    const CodeText& text = kCodeTexts[byte];
    table.quarter[byte / kLanes].bytes[byte % kLanes] =
        text.size != kStops && place < text.size ? text.bytes[place] : 0;
  }
  return table;
}

constexpr DigitTable kDigits[3] = {digitTable(1), digitTable(2), digitTable(3)};

// Bytes 1 to 127, most of any text, have codes of at most two digits, found
// in the first half of a table: a chunk of them alone takes the short layout.
constexpr unsigned char kShortFirst = 1;
constexpr unsigned char kShortCount = 127;
static_assert(
    [] {
      for (std::size_t byte = kShortFirst; byte < kShortFirst + kShortCount; ++byte)
        if (kCodeTexts[byte].size != kStops && kCodeTexts[byte].size > 3) return false;
      return true;
    }(),
    "the short layout holds two digits");

// How a group's codes lie in a register: each in a slot of `slotSize` bytes,
// its space first, for `codes` text bytes in turn.
template <std::size_t slotSize, std::size_t codes>
struct Layout {
  static constexpr std::size_t kSlotSize = slotSize;
  static constexpr std::size_t kCodes = codes;
  static constexpr std::size_t kGroups = (kChunk + codes - 1) / codes;
  static_assert(slotSize * codes <= kLanes, "a group fits in a register");
  static_assert(slotSize * codes < kLineWidth, "a group crosses one line end at most");
  // Byte 0 of each slot, and the lanes the slots take.
  static constexpr std::uint64_t kSpaces = [] {
    std::uint64_t spaces = 0;
    for (std::size_t code = 0; code < codes; ++code)
      spaces |= std::uint64_t{1} << slotSize * code;
    return spaces;
  }();
  static constexpr std::uint64_t kSlotLanes = ~std::uint64_t{0} >>
                                              (kLanes - slotSize * codes);
};

// Bytes 1 to 127: a space and two digits, 21 to a group.
using ShortLayout = Layout<3, 21>;
// Any byte: a space and three digits, 16 to a group.
using LongLayout = Layout<4, 16>;

// For each group, the indexes that spread its codes' digits to their slots:
// digits 1 and 2 from (first digits : second digits), then for the long
// layout digit 3 from (that : third digits). The space stays as the index
// itself, where the permute's mask leaves it.
struct SpreadIndexes {
  ByteRow firstTwo[LongLayout::kGroups];
  ByteRow third[LongLayout::kGroups];
};

template <typename L>
constexpr SpreadIndexes spreadIndexes() {
  SpreadIndexes spread{};
  for (std::size_t group = 0; group < L::kGroups; ++group) {
    for (std::size_t code = 0; code < L::kCodes; ++code) {
      const std::size_t from = group * L::kCodes + code;
      const std::size_t slot = L::kSlotSize * code;
      unsigned char* two = spread.firstTwo[group].bytes + slot;
      two[0] = ' ';
      two[1] = static_cast<unsigned char>(from);
      two[2] = static_cast<unsigned char>(kLanes + from);
      if (L::kSlotSize < 4) continue;
      unsigned char* three = spread.third[group].bytes + slot;
      three[0] = ' ';
      three[1] = static_cast<unsigned char>(slot + 1);
      three[2] = static_cast<unsigned char>(slot + 2);
      three[3] = static_cast<unsigned char>(kLanes + from);
    }
  }
  return spread;
}

constexpr SpreadIndexes kShortSpread = spreadIndexes<ShortLayout>();
constexpr SpreadIndexes kLongSpread = spreadIndexes<LongLayout>();

// A byte without a code that is no carriage return, and keeps a chunk short.
constexpr char kFiller = [] {
  for (std::size_t byte = kShortFirst;; ++byte)
    if (kCodeTexts[byte].size == kStops && byte != kLineEndFirst)
      return static_cast<char>(byte);
}();
static_assert(static_cast<unsigned char>(kFiller) < kShortFirst + kShortCount,
              "the filler keeps a chunk short");

QUARVEND_AVX512 inline __m512i loadRow(const ByteRow& row) {
  return _mm512_loadu_si512(row.bytes);
}

// Byte i of the result is byte (index byte i) of the table's first half.
QUARVEND_AVX512 inline __m512i lookUpLow(const DigitTable& table, __m512i index) {
  return _mm512_permutex2var_epi8(loadRow(table.quarter[0]), index,
                                  loadRow(table.quarter[1]));
}

// Byte i of the result is byte (index byte i) of the table.
QUARVEND_AVX512 inline __m512i lookUp(const DigitTable& table, __m512i index) {
  const __m512i high = _mm512_permutex2var_epi8(loadRow(table.quarter[2]), index,
                                                loadRow(table.quarter[3]));
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), lookUpLow(table, index),
                                high);
}

QUARVEND_AVX512 inline std::uint64_t bytesEqual(__m512i bytes, unsigned char value) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(value)));
}

// The line feeds of text[at..at+64) that lie before `size`, as a mask.
QUARVEND_AVX512 inline std::uint64_t lineFeedsAt(const unsigned char* text,
                                                 std::size_t at, std::size_t size) {
  const std::uint64_t inText =
      size - at >= kLanes
          ? ~std::uint64_t{0}
          : _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size - at));
  return bytesEqual(_mm512_maskz_loadu_epi8(inText, text + at), kLineFeed);
}

// The output line through a run: where its next byte goes, and one more than
// the characters it has room for, the form in which the next group's line end
// is found in the fewest steps.
struct Line {
  unsigned char* to;
  std::size_t fitsBelow;  // a group of fewer bytes goes on the line whole

  // A line of `width` characters, continued at `at`.
  Line(unsigned char* at, std::size_t width)
      : to(at), fitsBelow(kLineWidth + 1 - width) {}
  std::size_t width() const { return kLineWidth + 1 - fitsBelow; }
};

// Appends one group's codes, in `slots`: the bytes that count are `kept`, and
// those of them that start a code, `spaces`. A code that does not fit starts
// the next line, CR LF in the place of its space, and the rest follow it.
// Only `fitsBelow` waits for the group before, three steps after it; the guess
// whether a line ends here is right often enough that a branch beats working
// out both ways.
QUARVEND_AVX512 inline void layOut(__m512i slots, std::uint64_t kept,
                                   std::uint64_t spaces, Line& line) {
  const std::uint64_t starts = _pext_u64(spaces, kept);
  const auto count = static_cast<std::size_t>(_mm_popcnt_u64(kept));
  const __m512i packed = _mm512_maskz_compress_epi8(kept, slots);
  unsigned char* const to = line.to;
  _mm512_storeu_si512(to, packed);
  if (count < line.fitsBelow) {
    line.to = to + count;
    line.fitsBelow -= count;
    return;
  }
  // The code that does not fit is the last to start within the room; it and
  // all after it move one place on, up to a register's end, past the group's.
  const std::uint64_t before = 63 ^ static_cast<std::uint64_t>(__builtin_clzll(_bzhi_u64(
                                        starts, static_cast<unsigned>(line.fitsBelow))));
  _mm512_mask_storeu_epi8(to + 1, ~std::uint64_t{0} << before, packed);
  std::memcpy(to + before, kLineEnd.bytes, kLineEnd.size);
  line.to = to + count + 1;
  // The new line holds the codes from `before` on, less the space that the
  // line end took; the part that does not wait for `before` is added first.
  line.fitsBelow = (kLineWidth + 2 - count) + before;
}

// Lays out a chunk's codes, whose digits are `first`, `second` and `third`
// (unused by the short layout) and whose coded bytes are `coded`.
template <typename L>
QUARVEND_AVX512 inline void layOutChunk(__m512i first, __m512i second, __m512i third,
                                        std::uint64_t coded, Line& line) {
  const SpreadIndexes& spread = L::kSlotSize < 4 ? kShortSpread : kLongSpread;
  for (std::size_t group = 0; group < L::kGroups; ++group) {
    __m512i slots = _mm512_mask2_permutex2var_epi8(first, loadRow(spread.firstTwo[group]),
                                                   ~L::kSpaces, second);
    if constexpr (L::kSlotSize == 4)
      slots = _mm512_mask2_permutex2var_epi8(slots, loadRow(spread.third[group]),
                                             ~L::kSpaces, third);
    const std::uint64_t spaces = _pdep_u64(coded >> (group * L::kCodes), L::kSpaces);
    const std::uint64_t kept =
        (_mm512_test_epi8_mask(slots, slots) & L::kSlotLanes & ~L::kSpaces) | spaces;
    layOut(slots, kept, spaces, line);
  }
}

}  // namespace

// Takes a chunk at a time, the last one short when the run is, judging a
// carriage return at a chunk's end by the byte after it; from a chunk that
// holds a byte needing a rule of its own, the run goes one code at a time.
// Writes reach 64 bytes past a group's output, which the room for 5 bytes per
// text byte and kKernelSlack covers.
QUARVEND_AVX512 const unsigned char* encodeRunAvx512(const unsigned char* at,
                                                     const unsigned char* limit,
                                                     unsigned char*& out,
                                                     std::size_t& lineWidth) {
  Line line(out, lineWidth);
  while (at != limit) {
    const bool last = limit - at <= static_cast<std::ptrdiff_t>(kChunk);
    const auto size = last ? static_cast<std::size_t>(limit - at) : kChunk;
    // The bytes past the chunk read as one without a code, so that they write
    // nothing.
    // The text ahead is asked for early, as it is often in the cache of the
    // processor that read it; never past the run, which may be the memory
    // another thread is reading into.
    if (limit - at > static_cast<std::ptrdiff_t>(kFetchAhead))
      _mm_prefetch(reinterpret_cast<const char*>(at + kFetchAhead), _MM_HINT_T0);
    const std::uint64_t inRun = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size));
    const __m512i bytes = _mm512_mask_loadu_epi8(_mm512_set1_epi8(kFiller), inRun, at);
    const bool isShort =
        _mm512_cmpge_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(kShortFirst)),
                               _mm512_set1_epi8(kShortCount)) == 0;
    const __m512i first =
        isShort ? lookUpLow(kDigits[0], bytes) : lookUp(kDigits[0], bytes);
    // Bytes without a code have no first digit; of them only a carriage
    // return before a line feed goes on, and writes nothing.
    const std::uint64_t coded = _mm512_test_epi8_mask(first, first);
    const std::uint64_t joining =
        bytesEqual(bytes, kLineEndFirst) &
        (bytesEqual(bytes, kLineFeed) >> 1 |
         std::uint64_t{!last && at[kChunk] == kLineFeed} << (kChunk - 1));
    if ((coded | joining) != inRun) {
      // The byte that stops the run is in this chunk. (Copies, so that the
      // line stays in registers through the groups.)
      unsigned char* to = line.to;
      std::size_t width = line.width();
      at = encodeRunSingly(at, limit, to, width);
      line = Line(to, width);
      break;
    }
    if (isShort) {
      layOutChunk<ShortLayout>(first, lookUpLow(kDigits[1], bytes), first, coded, line);
    } else {
      layOutChunk<LongLayout>(first, lookUp(kDigits[1], bytes), lookUp(kDigits[2], bytes),
                              coded, line);
    }
    at += size;
  }
  out = line.to;
  lineWidth = line.width();
  return at;
}

// A register of text at a time; the last line feed is looked for from the
// end, where it usually is near.
QUARVEND_AVX512 LineFeeds countLineFeedsAvx512(const unsigned char* text,
                                               std::size_t size) {
  LineFeeds lines;
  for (std::size_t at = 0; at < size; at += kLanes)
    lines.count +=
        static_cast<std::uint64_t>(_mm_popcnt_u64(lineFeedsAt(text, at, size)));
  lines.after = size;
  if (lines.count == 0) return lines;
  for (std::size_t at = (size - 1) / kLanes * kLanes;; at -= kLanes) {
    if (const std::uint64_t here = lineFeedsAt(text, at, size); here != 0) {
      lines.after =
          size - (at + kLanes - static_cast<std::size_t>(__builtin_clzll(here)));
      return lines;
    }
  }
}

}  // namespace quarvend
#endif
