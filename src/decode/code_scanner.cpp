#include "decode/code_scanner.h"

#include <bit>
#include <cstring>

#include "decode/dos_text.h"
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

// Index of the lowest set bit of a non-zero mask. On x86-64 this is spelled
// as TZCNT, which processors without it run as BSF with the same result for a
// non-zero mask. Left to itself, clang emits BSF, which takes several
// micro-ops on some processors that have TZCNT; measured here, the scan runs
// about a tenth faster built by clang with this.
inline int lowestBit(std::uint64_t mask) {
#if defined(__x86_64__) && defined(__GNUC__)
  std::uint64_t index;
  __asm__("rep bsfq %1, %0" : "=r"(index) : "rm"(mask) : "cc");
  return static_cast<int>(index);
#elif defined(__GNUC__)
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

inline ChunkClasses classifyWords(const unsigned char* chunk) {
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

// How the portable path reads a code's value from the four bytes loaded at
// its first digit, by the number of digits: keep the digits' low nibbles
// (mask), then one multiplication sums them, weighted by place, into bits 16
// to 23 (multiplier). No partial sum below bit 16 exceeds 99, so nothing
// carries into those bits; sums above them may spill into bit 24 and up,
// which are dropped. Byte-swapped, the masked word compares like the number,
// which tells values above 255 (largest) apart.
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

constexpr std::uint32_t byteSwapped(std::uint32_t word) {
  return word >> 24 | (word >> 8 & 0xFF00) | (word << 8 & 0xFF0000) | word << 24;
}

inline void findCodesWords(const unsigned char* chunk, ChunkCodes& codes) {
  codes.classes = classifyWords(chunk);
  codes.largeEnds = 0;
  const std::uint64_t digits = codes.classes.digit;
  std::uint64_t starts = digits & ~(digits << 1);
  std::uint64_t ends = ~digits & (digits << 1);
  while (ends != 0) {
    const int start = lowestBit(starts);
    const int end = lowestBit(ends);
    starts &= starts - 1;
    ends &= ends - 1;
    if (end - start > 3) continue;
    const DigitRule& rule = kDigitRules[end - start];
    const std::uint32_t digitValues = load32(chunk + start) & rule.mask;
    codes.values[end] = static_cast<unsigned char>((digitValues * rule.multiplier) >> 16);
    if (byteSwapped(digitValues) > rule.largest)
      codes.largeEnds |= std::uint64_t{1} << end;
  }
}

#if QUARVEND_VECTOR_SCAN
// SSE2 compares signed bytes only; adding 128 - first maps first..last onto
// -128 upwards, so one signed compare tests the range.
inline __m128i bytesInRange(__m128i bytes, char first, char last) {
  const __m128i shifted =
      _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - first)));
  return _mm_cmplt_epi8(shifted,
                        _mm_set1_epi8(static_cast<char>(-128 + (last - first) + 1)));
}

inline std::uint64_t topBits(__m128i flags) {
  return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(flags)));
}

// The classes as classifyWords finds them, and every position's value at once:
// the value of a run of at most three digits ending at byte i is
// d(i) + 10 d(i-1) + 100 d(i-2), where d is a digit's value, 0 for any other
// byte, and the hundreds only count when byte i-1 is a digit too. The byte
// before the chunk is no digit (see scanCodes), so zeros shift in there.
inline void findCodesSse2(const unsigned char* chunk, ChunkCodes& codes) {
  const __m128i zero = _mm_setzero_si128();
  __m128i previousDigits = zero;  // the last part's digit values
  __m128i previousIsDigit = zero;
  std::uint64_t digit = 0, space = 0, carriageReturn = 0, lineFeed = 0, large = 0;
  for (std::size_t part = 0; part < kChunkSize / 16; ++part) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
    const unsigned shift = 16 * part;
    const __m128i isDigit = bytesInRange(bytes, '0', '9');
    const __m128i spaces = _mm_or_si128(bytesInRange(bytes, '\t', '\r'),
                                        _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
    digit |= topBits(isDigit) << shift;
    space |= topBits(spaces) << shift;
    carriageReturn |=
        topBits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(DosTextReader::kCarriageReturn)))
        << shift;
    lineFeed |= topBits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))) << shift;

    const __m128i digits =
        _mm_and_si128(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), isDigit);
    const __m128i tensDigits =
        _mm_or_si128(_mm_slli_si128(digits, 1), _mm_srli_si128(previousDigits, 15));
    const __m128i hundredsDigits =
        _mm_or_si128(_mm_slli_si128(digits, 2), _mm_srli_si128(previousDigits, 14));
    const __m128i tensIsDigit =
        _mm_or_si128(_mm_slli_si128(isDigit, 1), _mm_srli_si128(previousIsDigit, 15));
    previousDigits = digits;
    previousIsDigit = isDigit;

    // Each byte stays below 100 here, so 16-bit shifts move nothing across
    // bytes: 10 t = 8 t + 2 t.
    const __m128i lastTwo = _mm_add_epi8(
        digits,
        _mm_add_epi8(_mm_slli_epi16(tensDigits, 3), _mm_slli_epi16(tensDigits, 1)));
    const __m128i hundreds = _mm_and_si128(hundredsDigits, tensIsDigit);
    // Values above 255: hundreds above 2, or 2 with more than 55 after it.
    const __m128i twoHundred = _mm_cmpeq_epi8(hundreds, _mm_set1_epi8(2));
    const __m128i tooLarge = _mm_or_si128(
        _mm_cmpgt_epi8(hundreds, _mm_set1_epi8(2)),
        _mm_and_si128(twoHundred, _mm_cmpgt_epi8(lastTwo, _mm_set1_epi8(55))));
    large |= topBits(tooLarge) << shift;
    // Below 256 the hundreds are 0, 1 or 2; the low byte of the value is
    // lastTwo plus 100 or 200 (mod 256).
    const __m128i hundredsPart = _mm_or_si128(
        _mm_and_si128(_mm_cmpeq_epi8(hundreds, _mm_set1_epi8(1)), _mm_set1_epi8(100)),
        _mm_and_si128(twoHundred, _mm_set1_epi8(static_cast<char>(200))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes.values + 1 + 16 * part),
                     _mm_add_epi8(lastTwo, hundredsPart));
  }
  codes.classes = ChunkClasses{digit, space, carriageReturn, lineFeed};
  codes.largeEnds = large << 1;
}
#endif

}  // namespace

void findCodesPortable(const unsigned char* chunk, ChunkCodes& codes) {
  findCodesWords(chunk, codes);
}

#if QUARVEND_VECTOR_SCAN
void findCodesVector(const unsigned char* chunk, ChunkCodes& codes) {
  findCodesSse2(chunk, codes);
}
#endif

ScanResult scanCodes(const unsigned char* raw, std::size_t size,
                     const CodeOutputTable& outputs, unsigned char* out,
                     std::size_t codeRoom) {
  unsigned char* const outStart = out;
  std::size_t codes = 0;
  std::size_t at = 0;
  ChunkCodes chunkCodes;
  while (size - at >= kScanReadAhead && codeRoom - codes >= kMaxCodesPerChunk) {
    const unsigned char* const chunk = raw + at;
#if QUARVEND_VECTOR_SCAN
    findCodesSse2(chunk, chunkCodes);
#else
    findCodesWords(chunk, chunkCodes);
#endif
    const ChunkClasses& classes = chunkCodes.classes;
    const std::uint64_t digits = classes.digit;
    // No code is in progress before the chunk (see the contract), so a
    // digit at bit 0 starts a code.
    const std::uint64_t starts = digits & ~(digits << 1);
    const std::uint64_t ends = ~digits & (digits << 1);
    // Where this chunk stops being plain: any byte that is neither digit nor
    // white space; any carriage return right after a digit that is not
    // followed by a line feed in this chunk, as dropping it could join two
    // digit runs into one code; the fourth digit of every run, as codes of
    // four or more digits are left to nextCode; and the end of every code
    // above 255.
    const std::uint64_t joiningReturns =
        classes.carriageReturn & (digits << 1) & ~(classes.lineFeed >> 1);
    const std::uint64_t fourthDigits =
        digits & (digits << 1) & (digits << 2) & (digits << 3);
    const std::uint64_t stops = ~(digits | classes.space) | joiningReturns |
                                fourthDigits | (chunkCodes.largeEnds & ends);
    // The codes that end before the first stop are decoded; the rest of the
    // chunk is looked at again from the first code not decoded, or from the
    // stop, whichever comes first.
    const std::uint64_t safeEnds = ends & ((stops & (~stops + 1)) - 1);
    const std::uint64_t done =
        safeEnds == 0 ? 0 : ~std::uint64_t{0} >> std::countl_zero(safeEnds);
    for (std::uint64_t left = safeEnds; left != 0; left &= left - 1) {
      const OnDiskForm& output = outputs[chunkCodes.values[lowestBit(left)]];
      std::memcpy(out, output.bytes, sizeof output.bytes);
      out += output.size;
      ++codes;
    }
    const int advance = std::countr_zero((starts | stops) & ~done);
    if (advance == 0) break;
    at += static_cast<std::size_t>(advance);
  }
  ScanResult result;
  result.consumed = at;
  result.codes = codes;
  result.written = static_cast<std::size_t>(out - outStart);
  return result;
}

}  // namespace quarvend
