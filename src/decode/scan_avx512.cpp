// The scan kernel for processors with AVX-512 VBMI2: every code of a chunk is
// valued, looked up and packed into the output in registers, with no work per
// code.
//
// It steps a fixed 64 bytes, so that no chunk's loads wait for the work on the
// one before. Each chunk decodes the codes whose separator (the byte after the
// last digit) lies in it, taking digits that began in the chunk before from
// that chunk's registers. Bytes past the end of the input are read as zeros,
// which stop the scan like any other byte it does not handle.
#include "decode/code_scanner.h"

#if QUARVEND_X86_KERNELS
#include <immintrin.h>

namespace quarvend {
namespace {

struct ByteRow {
  unsigned char bytes[kChunkSize];
};

QUARVEND_AVX512 inline __m512i loadRow(const ByteRow& row) {
  return _mm512_loadu_si512(row.bytes);
}

// The output table as the kernel holds it. Only one code writes two bytes
// (the line feed's carriage return and line feed): that code is told by its
// value, and its second byte is known, so only the first bytes are looked up.
struct FirstBytes {
  ByteRow quarter[4];
};

constexpr FirstBytes kFirstBytes = [] {
  FirstBytes table{};
  for (std::size_t code = 0; code < kCodeOutputs.size(); ++code)
    table.quarter[code / kChunkSize].bytes[code % kChunkSize] =
        kCodeOutputs[code].bytes[0];
  return table;
}();

constexpr std::size_t kTwoByteCode = [] {
  std::size_t found = 0, count = 0;
  for (std::size_t code = 0; code < kCodeOutputs.size(); ++code) {
    if (kCodeOutputs[code].size == 2) {
      found = code;
      ++count;
    }
  }
  return count == 1 ? found : kCodeOutputs.size();
}();
static_assert(kTwoByteCode < kCodeOutputs.size(), "exactly one code writes two bytes");
constexpr unsigned char kTwoByteSecond = kCodeOutputs[kTwoByteCode].bytes[1];

// Byte i of the result is the first output byte of code (index byte i);
// `highHalf` holds bit 7 of the index bytes.
QUARVEND_AVX512 inline __m512i lookUpFirstBytes(const __m512i (&table)[4], __m512i index,
                                                __mmask64 highHalf) {
  const __m512i low = _mm512_permutex2var_epi8(table[0], index, table[1]);
  const __m512i high = _mm512_permutex2var_epi8(table[2], index, table[3]);
  return _mm512_mask_blend_epi8(highHalf, low, high);
}

// In every 16-byte lane, byte d is d times `multiplier` (mod 256) for the
// digits 0 to 9: vpshufb indexes it with a digit's low nibble.
constexpr ByteRow digitTimes(unsigned multiplier) {
  ByteRow row{};
  for (unsigned i = 0; i < kChunkSize; ++i)
    row.bytes[i] =
        static_cast<unsigned char>(i % 16 < 10 ? i % 16 * multiplier % 256 : 0);
  return row;
}

constexpr ByteRow kTens = digitTimes(10);
constexpr ByteRow kHundreds = digitTimes(100);

// The 16-byte lanes of previous:current that end one lane into current: the
// lane before each lane of current, as the byte shifts below need it.
QUARVEND_AVX512 inline __m512i lanesBefore(__m512i current, __m512i previous) {
  return _mm512_maskz_alignr_epi64(0xFF, current, previous, 6);
}

// Byte i of the result is byte i - distance (1 to 15) of previous:current,
// given lanesBefore(current, previous).
template <int distance>
QUARVEND_AVX512 __m512i bytesBack(__m512i current, __m512i before) {
  return _mm512_alignr_epi8(current, before, 16 - distance);
}

QUARVEND_AVX512 inline std::uint64_t bytesEqual(__m512i bytes, char value) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(value));
}

// raw[from..from + 64), zeros past `size`; reads nothing outside raw[0..size).
// Whole chunks are loaded unmasked: with a masked load in every round, each
// chunk waited for the one before.
QUARVEND_AVX512 inline __m512i loadChunk(const unsigned char* raw, std::size_t size,
                                         std::size_t from) {
  if (from + kChunkSize <= size) return _mm512_loadu_si512(raw + from);
  if (from >= size) return _mm512_setzero_si512();
  return _mm512_maskz_loadu_epi8(_bzhi_u64(~std::uint64_t{0}, size - from), raw + from);
}

}  // namespace

// Ends in front of the first code it does not handle; the zeros read past the
// end of the input stop it there at the latest. Every chunk before the one
// that stops holds no byte past `size`, so its output, which is never longer
// than the bytes consumed, fits a whole-register store in out[0..size).
QUARVEND_AVX512 ScanResult scanCodesAvx512(const unsigned char* raw, std::size_t size,
                                           unsigned char* out) {
  const __m512i tens = loadRow(kTens);
  const __m512i hundreds = loadRow(kHundreds);
  const __m512i firstBytes[4] = {
      loadRow(kFirstBytes.quarter[0]), loadRow(kFirstBytes.quarter[1]),
      loadRow(kFirstBytes.quarter[2]), loadRow(kFirstBytes.quarter[3])};
  const __m512i twoByteCode = _mm512_set1_epi8(static_cast<char>(kTwoByteCode));
  const __m512i twoByteSecond = _mm512_set1_epi8(static_cast<char>(kTwoByteSecond));
  unsigned char* const outStart = out;
  std::size_t codes = 0;  // decoded, with their separators before `at`
  std::size_t at = 0;     // this chunk's start
  // What the chunk before left: no digit before raw[0], no pending output.
  const __m512i zeroDigit = _mm512_set1_epi8('0');
  const __m512i ten = _mm512_set1_epi8(10);
  const __m512i largestHundreds = _mm512_set1_epi8(scan::kLargestHundreds);
  __m512i previousValues = _mm512_set1_epi8(' ' - '0');
  __mmask64 previousTwoByteCodes = 0;
  std::uint64_t previousDigits = 0;
  __m512i bytes = loadChunk(raw, size, 0);
  for (;;) {
    const __m512i next = loadChunk(raw, size, at + kChunkSize);
    // Asked for eight chunks ahead, input that is not in the nearest caches
    // arrives in time.
    const std::size_t ahead = at + 8 * kChunkSize;
    _mm_prefetch(reinterpret_cast<const char*>(raw + (ahead < size ? ahead : size)),
                 _MM_HINT_T0);

    // Each separator's code, from the digit values of the three bytes before
    // it (a byte is a digit when its value is below 10): the first, plus ten
    // times the second when it is a digit, plus a hundred times the third
    // when both are digits. The code is too large when it has three digits
    // and scan::largeByDigits says so.
    const __m512i digitValues = _mm512_sub_epi8(bytes, zeroDigit);
    const __m512i before = lanesBefore(digitValues, previousValues);
    const __m512i back1 = bytesBack<1>(digitValues, before);
    const __m512i back2 = bytesBack<2>(digitValues, before);
    const __m512i back3 = bytesBack<3>(digitValues, before);
    const __mmask64 separatorMask =
        _mm512_mask_cmpge_epu8_mask(_mm512_cmplt_epu8_mask(back1, ten), digitValues, ten);
    const __mmask64 twoDigits = _mm512_mask_cmplt_epu8_mask(separatorMask, back2, ten);
    const __mmask64 threeDigits = _mm512_mask_cmplt_epu8_mask(twoDigits, back3, ten);
    const __m512i lastTwo =
        _mm512_add_epi8(back1, _mm512_maskz_shuffle_epi8(twoDigits, tens, back2));
    const __m512i values =
        _mm512_add_epi8(lastTwo, _mm512_maskz_shuffle_epi8(threeDigits, hundreds, back3));
    const std::uint64_t large =
        _mm512_mask_cmpgt_epu8_mask(threeDigits, back3, largestHundreds) |
        _mm512_mask_cmpgt_epu8_mask(
            _mm512_mask_cmpeq_epi8_mask(threeDigits, back3, largestHundreds), lastTwo,
            _mm512_set1_epi8(scan::kLargestLastTwo));

    // A code's first output byte goes in its separator's place, the second
    // (if any) in the place after, which for the chunk's last byte is the
    // next chunk's first.
    const __mmask64 twoByteCodes =
        _mm512_mask_cmpeq_epi8_mask(separatorMask, values, twoByteCode);
    const __mmask64 secondPlaces = _kor_mask64(
        _kshiftli_mask64(twoByteCodes, 1), _kshiftri_mask64(previousTwoByteCodes, 63));
    const __m512i placed = _mm512_mask_blend_epi8(
        secondPlaces, lookUpFirstBytes(firstBytes, values, _mm512_movepi8_mask(values)),
        twoByteSecond);
    const __mmask64 kept = _kor_mask64(separatorMask, secondPlaces);

    // The stops, as the other kernels have them, but a carriage return in the
    // chunk's last byte is judged by the next chunk's first byte.
    const std::uint64_t digits = _mm512_cmplt_epu8_mask(digitValues, ten);
    const std::uint64_t spaces =
        _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(kSpaceRunFirst)),
                               _mm512_set1_epi8(kSpaceRunLast - kSpaceRunFirst + 1)) |
        bytesEqual(bytes, kSpaceAlone);
    const std::uint64_t lineFeedAfter =
        bytesEqual(bytes, kLineFeed) >> 1 | bytesEqual(next, kLineFeed) << 63;
    // For each byte: the one, two and three bytes before it are digits.
    const std::uint64_t digitBack1 = digits << 1 | previousDigits >> 63;
    const std::uint64_t digitBack2 = digits << 2 | previousDigits >> 62;
    const std::uint64_t digitBack3 = digits << 3 | previousDigits >> 61;
    const std::uint64_t separators = ~digits & digitBack1;
    const std::uint64_t joiningReturns =
        bytesEqual(bytes, kCarriageReturn) & digitBack1 & ~lineFeedAfter;
    const std::uint64_t fourthDigits = digits & digitBack1 & digitBack2 & digitBack3;
    const std::uint64_t stops =
        ~(digits | spaces) | joiningReturns | fourthDigits | large;

    if (stops != 0) [[unlikely]] {
      // The end is where the first stop's code starts: the digits right
      // before the stop, at most three, may have begun in the chunk before.
      // Only digits lie between it and `at` when it comes first, so nothing
      // stored is taken back.
      const unsigned stop = static_cast<unsigned>(_tzcnt_u64(stops));
      const std::uint64_t run = digitBack1 >> stop & 1;
      const std::size_t end = at + stop - run - (run & digitBack2 >> stop) -
                              (run & (digitBack2 & digitBack3) >> stop);
      if (end >= at) {
        // The place at `end` may hold the second byte of the code before.
        const std::uint64_t keep = _bzhi_u64(kept, static_cast<unsigned>(end - at + 1));
        const unsigned count = static_cast<unsigned>(__builtin_popcountll(keep));
        _mm512_mask_storeu_epi8(out, _bzhi_u64(~std::uint64_t{0}, count),
                                _mm512_maskz_compress_epi8(keep, placed));
        out += count;
        codes += static_cast<std::size_t>(
            __builtin_popcountll(_bzhi_u64(separators, static_cast<unsigned>(end - at))));
      }
      return ScanResult{end, codes, static_cast<std::size_t>(out - outStart)};
    }

    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, placed));
    out += __builtin_popcountll(kept);
    codes += static_cast<std::size_t>(__builtin_popcountll(separators));

    previousValues = digitValues;
    previousTwoByteCodes = twoByteCodes;
    previousDigits = digits;
    bytes = next;
    at += kChunkSize;
  }
}

}  // namespace quarvend
#endif
