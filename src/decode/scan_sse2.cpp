// The SSE2 kernel, for every x86-64 processor.
#include "decode/code_scanner.h"

#if QUARVEND_X86_KERNELS
#include <emmintrin.h>

#include "decode/scan_loop.h"
#include "format/dos_text.h"

namespace quarvend {
namespace {

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

// The classes as the portable kernel finds them, and every position's value at once:
// the value of a run of at most three digits ending at byte i is
// d(i) + 10 d(i-1) + 100 d(i-2), where d is a digit's value, 0 for any other
// byte, and the hundreds only count when byte i-1 is a digit too. The byte
// before the chunk is no digit (see the kernels' contract), so zeros shift in there.
void findCodesSse2(const unsigned char* chunk, scan::ChunkCodes& codes) {
  const __m128i zero = _mm_setzero_si128();
  __m128i previousDigits = zero;  // the last part's digit values
  __m128i previousIsDigit = zero;
  std::uint64_t digit = 0, space = 0, carriageReturn = 0, lineFeed = 0, large = 0;
  for (std::size_t part = 0; part < kChunkSize / 16; ++part) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
    const unsigned shift = 16 * part;
    const __m128i isDigit = bytesInRange(bytes, '0', '9');
    const __m128i spaces =
        _mm_or_si128(bytesInRange(bytes, kSpaceRunFirst, kSpaceRunLast),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8(kSpaceAlone)));
    digit |= topBits(isDigit) << shift;
    space |= topBits(spaces) << shift;
    carriageReturn |= topBits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kCarriageReturn)))
                      << shift;
    lineFeed |= topBits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kLineFeed))) << shift;

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
    // Values above the largest code, as scan::largeByDigits has them.
    static_assert(scan::kLargestHundreds == 2,
                  "the low byte below takes hundreds 0 to 2");
    const __m128i largestHundreds = _mm_set1_epi8(scan::kLargestHundreds);
    const __m128i twoHundred = _mm_cmpeq_epi8(hundreds, largestHundreds);
    const __m128i tooLarge = _mm_or_si128(
        _mm_cmpgt_epi8(hundreds, largestHundreds),
        _mm_and_si128(twoHundred,
                      _mm_cmpgt_epi8(lastTwo, _mm_set1_epi8(scan::kLargestLastTwo))));
    large |= topBits(tooLarge) << shift;
    // Below 256 the hundreds are 0, 1 or 2; the low byte of the value is
    // lastTwo plus 100 or 200 (mod 256).
    const __m128i hundredsPart = _mm_or_si128(
        _mm_and_si128(_mm_cmpeq_epi8(hundreds, _mm_set1_epi8(1)), _mm_set1_epi8(100)),
        _mm_and_si128(twoHundred, _mm_set1_epi8(static_cast<char>(200))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes.values + 1 + 16 * part),
                     _mm_add_epi8(lastTwo, hundredsPart));
  }
  codes.classes = scan::ChunkClasses{digit, space, carriageReturn, lineFeed};
  codes.largeEnds = large << 1;
}

}  // namespace

ScanResult scanCodesSse2(const unsigned char* raw, std::size_t size, unsigned char* out) {
  return scan::scanWith<findCodesSse2>(raw, size, out);
}

}  // namespace quarvend
#endif
