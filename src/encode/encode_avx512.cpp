// The encoding kernel for processors with AVX-512 VBMI2: each chunk of 64 text
// bytes is looked up, spread to one 4-byte slot per code and packed into
// lines in registers, sixteen codes at a time.
//
// Sixteen codes take at most 64 characters, less than a line, so they cross
// at most one line end: where it falls is found from the packed bytes'
// positions alone, and the line end takes the place of that code's space.
#include "encode/encode_kernels.h"

#if QUARVEND_X86_KERNELS
#include <immintrin.h>

namespace quarvend {
namespace {

constexpr std::size_t kChunk = 64;
constexpr std::size_t kCodesPerGroup = 16;  // one 4-byte slot each in a register
static_assert(4 * kCodesPerGroup < kLineWidth, "a group crosses one line end at most");

struct ByteRow {
  unsigned char bytes[kChunk];
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
    table.quarter[byte / kChunk].bytes[byte % kChunk] =
        text.size != kStops && place < text.size ? text.bytes[place] : 0;
  }
  return table;
}

constexpr DigitTable kDigits[3] = {digitTable(1), digitTable(2), digitTable(3)};

// Indexes that spread group g's sixteen codes to 4-byte slots: first digits
// 1 and 2 from (first digits : second digits), then digit 3 from (that :
// third digits); the space, byte 0 of each slot, is the index itself, kept
// where the permute's mask leaves it.
struct SpreadIndexes {
  ByteRow firstTwo[4];
  ByteRow third[4];
};

constexpr SpreadIndexes kSpread = [] {
  SpreadIndexes spread{};
  for (std::size_t group = 0; group < 4; ++group) {
    for (std::size_t code = 0; code < kCodesPerGroup; ++code) {
      const auto from = static_cast<unsigned char>(group * kCodesPerGroup + code);
      unsigned char* two = spread.firstTwo[group].bytes + 4 * code;
      two[0] = two[3] = 0;
      two[1] = from;
      two[2] = static_cast<unsigned char>(kChunk + from);
      unsigned char* three = spread.third[group].bytes + 4 * code;
      three[0] = ' ';
      three[1] = static_cast<unsigned char>(4 * code + 1);
      three[2] = static_cast<unsigned char>(4 * code + 2);
      three[3] = static_cast<unsigned char>(kChunk + from);
    }
  }
  return spread;
}();
// A byte without a code that is no carriage return.
constexpr char kFiller = [] {
  for (std::size_t byte = 0;; ++byte)
    if (kCodeTexts[byte].size == kStops && byte != kLineEndFirst)
      return static_cast<char>(byte);
}();

constexpr std::uint64_t kSpaces = 0x1111111111111111;  // byte 0 of each slot

// The line end that takes the place of a code's space, as the writing side
// has it.
constexpr OnDiskForm kLineEnd = onDiskForm(kLineFeed);
static_assert(kLineEnd.size == 2, "a line end is stored as two bytes");

QUARVEND_AVX512 inline __m512i loadRow(const ByteRow& row) {
  return _mm512_loadu_si512(row.bytes);
}

// Byte i of the result is byte (index byte i) of the table.
QUARVEND_AVX512 inline __m512i lookUp(const DigitTable& table, __m512i index) {
  const __m512i low = _mm512_permutex2var_epi8(loadRow(table.quarter[0]), index,
                                               loadRow(table.quarter[1]));
  const __m512i high = _mm512_permutex2var_epi8(loadRow(table.quarter[2]), index,
                                                loadRow(table.quarter[3]));
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

QUARVEND_AVX512 inline std::uint64_t bytesEqual(__m512i bytes, unsigned char value) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(value)));
}

}  // namespace

// Takes a chunk at a time, the last one short when the run is, judging a
// carriage return at a chunk's end by the byte after it; a chunk that holds a
// byte needing a rule of its own goes one code at a time, up to that byte.
// Writes reach 66 bytes past a group's output, which the room for 5 bytes per
// text byte and kKernelSlack covers.
QUARVEND_AVX512 const unsigned char* encodeRunAvx512(const unsigned char* at,
                                                     const unsigned char* limit,
                                                     unsigned char*& out,
                                                     std::size_t& lineWidth) {
  unsigned char* to = out;
  std::size_t width = lineWidth;
  while (at != limit) {
    const bool last = limit - at <= static_cast<std::ptrdiff_t>(kChunk);
    const auto size = last ? static_cast<std::size_t>(limit - at) : kChunk;
    // The bytes past a short chunk read as one without a code, so that they
    // write nothing.
    const std::uint64_t inRun = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size));
    const __m512i bytes = _mm512_mask_loadu_epi8(_mm512_set1_epi8(kFiller), inRun, at);
    const __m512i digits[3] = {lookUp(kDigits[0], bytes), lookUp(kDigits[1], bytes),
                               lookUp(kDigits[2], bytes)};
    // Bytes without a code have no first digit; of them only a carriage
    // return before a line feed goes on, and writes nothing.
    const std::uint64_t coded = _mm512_test_epi8_mask(digits[0], digits[0]);
    const std::uint64_t joining = bytesEqual(bytes, kLineEndFirst) &
                                  (bytesEqual(bytes, kLineFeed) >> 1 |
                                   std::uint64_t{!last && at[kChunk] == kLineFeed} << 63);
    if ((coded | joining) != inRun) {
      // Copies, so that the chain through the group loop stays in registers.
      const unsigned char* const end = at + size;
      unsigned char* singlyTo = to;
      std::size_t singlyWidth = width;
      at = encodeRunSingly(at, end, limit, singlyTo, singlyWidth);
      to = singlyTo;
      width = singlyWidth;
      if (at != end) break;
      continue;
    }

    for (std::size_t group = 0; group < 4; ++group) {
      const __m512i firstTwo = _mm512_permutex2var_epi8(
          digits[0], loadRow(kSpread.firstTwo[group]), digits[1]);
      const __m512i slots = _mm512_mask2_permutex2var_epi8(
          firstTwo, loadRow(kSpread.third[group]), ~kSpaces, digits[2]);
      // The bytes that count: the digits, and the space of each code; and
      // where in the output each code starts.
      const std::uint64_t spaces =
          _pdep_u64(coded >> (group * kCodesPerGroup) & 0xFFFF, kSpaces);
      const std::uint64_t kept =
          (_mm512_test_epi8_mask(slots, slots) & ~kSpaces) | spaces;
      const std::uint64_t starts = _pext_u64(spaces, kept);
      const std::size_t count = static_cast<std::size_t>(_mm_popcnt_u64(kept));
      const __m512i packed = _mm512_maskz_compress_epi8(kept, slots);

      // Byte `room` of the group's output is the first past the line, if it
      // has that many: the code it belongs to starts the next line. Only this
      // waits for the group before.
      const std::size_t room = kLineWidth - width;
      const bool newLine = count > room;
      const std::size_t before =
          newLine
              ? 63 - __builtin_clzll(_bzhi_u64(starts, static_cast<unsigned>(room + 1)))
              : count;

      // The codes, then those from the one that starts the line again one
      // place on, and CR LF in the place of its space; without a line end,
      // only past the codes, to be overwritten.
      _mm512_storeu_si512(to, packed);
      _mm512_mask_storeu_epi8(
          to + 1,
          _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(count)) &
              ~_bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(before)),
          packed);
      to[before] = kLineEnd.bytes[0];
      to[before + 1] = kLineEnd.bytes[1];
      to += count + newLine;
      width = newLine ? count - before - 1 : width + count;
    }
    at += size;
  }
  out = to;
  lineWidth = width;
  return at;
}

}  // namespace quarvend
#endif
