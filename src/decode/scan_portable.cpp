// The portable kernel: word-sized arithmetic on any processor.
#include "decode/scan_loop.h"
#include "format/dos_text.h"
#include "format/ostrevic.h"

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

inline scan::ChunkClasses classifyWords(const unsigned char* chunk) {
  scan::ChunkClasses classes{};
  for (std::size_t word = 0; word < kChunkSize / 8; ++word) {
    const std::uint64_t bytes = load64(chunk + 8 * word);
    const unsigned shift = 8 * word;
    classes.digit |= gatherTopBits(inRange(bytes, '0', '9')) << shift;
    classes.space |= gatherTopBits(inRange(bytes, kSpaceRunFirst, kSpaceRunLast) |
                                   inRange(bytes, kSpaceAlone, kSpaceAlone))
                     << shift;
    classes.carriageReturn |=
        gatherTopBits(inRange(bytes, kCarriageReturn, kCarriageReturn)) << shift;
    classes.lineFeed |= gatherTopBits(inRange(bytes, kLineFeed, kLineFeed)) << shift;
  }
  return classes;
}

// How the portable path reads a code's value from the four bytes loaded at
// its first digit, by the number of digits: keep the digits' low nibbles
// (mask), then one multiplication sums them, weighted by place, into bits 16
// to 23 (multiplier). No partial sum below bit 16 exceeds 99, so nothing
// carries into those bits; sums above them may spill into bit 24 and up,
// which are dropped. Byte-swapped, the masked word compares like the number,
// which tells values above kLargestCode (largest) apart.
struct DigitRule {
  std::uint32_t mask;
  std::uint32_t multiplier;
  std::uint32_t largest;
};
// The largest code's digits, as its byte-swapped masked word: the hundreds
// in the top byte, then the tens and the units.
constexpr std::uint32_t kLargestDigits = scan::kLargestHundreds << 24 |
                                         scan::kLargestLastTwo / 10 << 16 |
                                         scan::kLargestLastTwo % 10 << 8;
constexpr DigitRule kDigitRules[4] = {
    {0, 0, 0},
    {0x0000000F, 0x00010000, 0xFFFFFFFF},
    {0x00000F0F, 0x000A0100, 0xFFFFFFFF},
    {0x000F0F0F, 0x00640A01, kLargestDigits},
};
static_assert(kLargestDigits == 0x02050500);

constexpr std::uint32_t byteSwapped(std::uint32_t word) {
  return word >> 24 | (word >> 8 & 0xFF00) | (word << 8 & 0xFF0000) | word << 24;
}

// Fills `codes` with word-sized arithmetic.
void findCodesPortable(const unsigned char* chunk, scan::ChunkCodes& codes) {
  codes.classes = classifyWords(chunk);
  codes.largeEnds = 0;
  const std::uint64_t digits = codes.classes.digit;
  std::uint64_t starts = digits & ~(digits << 1);
  std::uint64_t ends = ~digits & (digits << 1);
  while (ends != 0) {
    const int start = scan::lowestBit(starts);
    const int end = scan::lowestBit(ends);
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

}  // namespace

ScanResult scanCodesPortable(const unsigned char* raw, std::size_t size,
                             unsigned char* out) {
  return scan::scanWith<findCodesPortable>(raw, size, out);
}

}  // namespace quarvend
