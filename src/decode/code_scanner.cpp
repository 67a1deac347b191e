#include "decode/code_scanner.h"

#include <bit>
#include <cstring>

#include "decode/dos_text_reader.h"
#include "decode/encoded_reader.h"

#if QUARVEND_VECTOR_SCAN
#include <emmintrin.h>
#endif

namespace quarvend {
namespace {

// Little-endian loads assembled byte by byte: compilers turn these into single
// loads, and they need no alignment and mean the same on every byte order.
std::uint32_t load32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
         std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
}

std::uint64_t load64(const unsigned char* bytes) {
  return std::uint64_t{load32(bytes)} | std::uint64_t{load32(bytes + 4)} << 32;
}

// Index of the lowest set bit of a non-zero mask.
int lowestBit(std::uint64_t mask) {
#if defined(__GNUC__)
  return __builtin_ctzll(mask);
#else
  return std::countr_zero(mask);
#endif
}

constexpr std::uint64_t kLowBits = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

// For eight bytes whose top bit is clear: the top bit of each byte is set
// where that byte is at least `bound` (1 to 128). No sum carries into the next
// byte, as each stays below 256.
constexpr std::uint64_t atLeast(std::uint64_t low7, unsigned bound) {
  return (low7 + kLowBits * (128 - bound)) & kHighBits;
}

// Top bit of each byte of `word` set where the byte lies in first..last
// (both below 128).
constexpr std::uint64_t inRange(std::uint64_t word, unsigned first, unsigned last) {
  const std::uint64_t low7 = word & ~kHighBits;
  return atLeast(low7, first) & ~atLeast(low7, last + 1) & ~word;
}

// Gathers the top bit of each byte of `flags` into the low eight bits, byte 0
// to bit 0. The multiplier moves byte k's bit to bit 56 + k, and no two
// partial products meet, so nothing carries.
constexpr std::uint64_t gatherTopBits(std::uint64_t flags) {
  return ((flags >> 7) * 0x0102040810204080) >> 56;
}

static_assert(EncodedReader::isSpace('\t') && EncodedReader::isSpace('\r') &&
                  !EncodedReader::isSpace('\t' - 1) && !EncodedReader::isSpace('\r' + 1),
              "white space below 32 is 9 to 13, as the classifiers assume");

ChunkClasses classifyWords(const unsigned char* chunk) {
  ChunkClasses classes{};
  for (std::size_t word = 0; word < kChunkSize / 8; ++word) {
    const std::uint64_t bytes = load64(chunk + 8 * word);
    const unsigned shift = 8 * word;
    classes.digit |= gatherTopBits(inRange(bytes, '0', '9')) << shift;
    classes.space |= gatherTopBits(inRange(bytes, '\t', '\r') | inRange(bytes, ' ', ' '))
                     << shift;
    classes.carriageReturn |= gatherTopBits(inRange(bytes, DosTextReader::kCarriageReturn,
                                                    DosTextReader::kCarriageReturn))
                              << shift;
    classes.lineFeed |= gatherTopBits(inRange(bytes, '\n', '\n')) << shift;
  }
  return classes;
}

#if QUARVEND_VECTOR_SCAN
ChunkClasses classifySse2(const unsigned char* chunk) {
  // SSE2 compares signed bytes only; adding 128 - first maps first..last onto
  // -128 upwards, so one signed compare tests the range.
  const auto rangeTest = [](__m128i bytes, char first, char last) {
    const __m128i shifted =
        _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - first)));
    return _mm_cmplt_epi8(shifted,
                          _mm_set1_epi8(static_cast<char>(-128 + (last - first) + 1)));
  };
  const auto bits = [](__m128i flags) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(flags)));
  };
  ChunkClasses classes{};
  for (std::size_t part = 0; part < kChunkSize / 16; ++part) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
    const unsigned shift = 16 * part;
    const __m128i space = _mm_or_si128(rangeTest(bytes, '\t', '\r'),
                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
    classes.digit |= bits(rangeTest(bytes, '0', '9')) << shift;
    classes.space |= bits(space) << shift;
    classes.carriageReturn |=
        bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(DosTextReader::kCarriageReturn)))
        << shift;
    classes.lineFeed |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))) << shift;
  }
  return classes;
}
#endif

// How to turn the four bytes loaded at a code's first digit into its value,
// by the number of digits: keep the digits' low nibbles (mask), then one
// multiplication sums them, weighted by place, into bits 16 to 23 (multiplier).
// No partial sum below bit 16 exceeds 99, so nothing carries into those bits;
// sums above them may spill into bit 24 and up, which are dropped. Three
// digits can exceed 255, so their value is also checked on the digits
// themselves: byte-swapped, the masked word compares like the number
// (largest).
struct DigitRule {
  std::uint32_t mask;
  std::uint32_t multiplier;
  std::uint32_t largest;
};
constexpr DigitRule kDigitRules[4] = {
    {0, 0, 0},
    {0x0000000F, 0x00010000, 0xFFFFFFFF},
    {0x00000F0F, 0x000A0100, 0xFFFFFFFF},
    {0x000F0F0F, 0x00640A01, 0x02050500},
};

std::uint32_t byteSwapped(std::uint32_t word) {
  return word >> 24 | (word >> 8 & 0xFF00) | (word << 8 & 0xFF0000) | word << 24;
}

}  // namespace

ChunkClasses classifyPortable(const unsigned char* chunk) { return classifyWords(chunk); }

#if QUARVEND_VECTOR_SCAN
ChunkClasses classifyVector(const unsigned char* chunk) { return classifySse2(chunk); }
#endif

ScanResult scanCodes(const unsigned char* raw, std::size_t size,
                     const CodeOutputTable& outputs, unsigned char* out,
                     std::size_t codeRoom) {
  ScanResult result;
  unsigned char* const outStart = out;
  std::size_t at = 0;
  while (size - at >= kScanReadAhead && codeRoom - result.codes >= kMaxCodesPerChunk) {
    const unsigned char* const chunk = raw + at;
#if QUARVEND_VECTOR_SCAN
    const ChunkClasses classes = classifySse2(chunk);
#else
    const ChunkClasses classes = classifyWords(chunk);
#endif
    const std::uint64_t digits = classes.digit;
    // The byte before the chunk is never a digit (see the contract), so a
    // digit at bit 0 starts a code.
    std::uint64_t starts = digits & ~(digits << 1);
    const std::uint64_t ends = ~digits & (digits << 1);
    // Where this chunk stops being plain: any byte that is neither digit nor
    // white space; any carriage return right after a digit that is not
    // followed by a line feed in this chunk, as dropping it could join two
    // digit runs into one code; and the fourth digit of every run, as codes
    // of four or more digits are left to nextCode.
    const std::uint64_t joiningReturns =
        classes.carriageReturn & (digits << 1) & ~(classes.lineFeed >> 1);
    const std::uint64_t fourthDigits = digits & (digits << 1) & (digits << 2) & (digits << 3);
    const std::uint64_t stops = ~(digits | classes.space) | joiningReturns | fourthDigits;
    // Only codes whose ending byte lies before the first stop are decoded;
    // they have one to three digits.
    std::uint64_t safeEnds = ends & ((stops & (~stops + 1)) - 1);

    while (safeEnds != 0) {
      const int start = lowestBit(starts);
      const DigitRule& rule = kDigitRules[lowestBit(safeEnds) - start];
      const std::uint32_t digitValues = load32(chunk + start) & rule.mask;
      if (byteSwapped(digitValues) > rule.largest) {
        result.consumed = at + static_cast<std::size_t>(start);
        result.written = static_cast<std::size_t>(out - outStart);
        return result;
      }
      const std::uint32_t value = (digitValues * rule.multiplier) >> 16 & 0xFF;
      const CodeOutput& output = outputs[value];
      std::memcpy(out, output.bytes, sizeof output.bytes);
      out += output.size;
      ++result.codes;
      starts &= starts - 1;
      safeEnds &= safeEnds - 1;
    }

    // The next chunk starts at the first code not decoded or at the first
    // stop, whichever comes first; both are code boundaries.
    const int advance = std::countr_zero(starts | stops);
    if (advance == 0) break;
    at += static_cast<std::size_t>(advance);
  }
  result.consumed = at;
  result.written = static_cast<std::size_t>(out - outStart);
  return result;
}

}  // namespace quarvend
