// The scan kernel for processors with AVX-512 VBMI2: every code of a chunk is
// valued, looked up and packed into the output in registers, with no work per
// code. Built with its own instruction-set flags (see CMakeLists.txt), so it
// calls no inline function from another header: the linker could otherwise
// keep this file's copy of that function for the whole program.
#include "decode/code_scanner.h"

#if QUARVEND_X86_KERNELS
#include <immintrin.h>

namespace quarvend {
namespace {

struct ByteRow {
  unsigned char bytes[kChunkSize];
};

// Byte i of the row is i - distance (mod 64): as an index for vpermb, it moves
// every byte `distance` places up.
constexpr ByteRow shiftIndex(unsigned distance) {
  ByteRow row{};
  for (unsigned i = 0; i < kChunkSize; ++i)
    row.bytes[i] = static_cast<unsigned char>((i - distance) % kChunkSize);
  return row;
}

// Byte j of the row is 4 j + field (mod 128): picks one byte of each of 32
// OnDiskForm entries out of 128 bytes of the table.
constexpr ByteRow fieldIndex(unsigned field) {
  ByteRow row{};
  for (unsigned j = 0; j < kChunkSize; ++j)
    row.bytes[j] = static_cast<unsigned char>((4 * j + field) % 128);
  return row;
}

constexpr ByteRow kUpOne = shiftIndex(1);
constexpr ByteRow kUpTwo = shiftIndex(2);
constexpr ByteRow kFirstBytes = fieldIndex(0);
constexpr ByteRow kSecondBytes = fieldIndex(1);
constexpr ByteRow kSizes = fieldIndex(2);

inline __m512i loadRow(const ByteRow& row) { return _mm512_loadu_si512(row.bytes); }

// One byte of every OnDiskForm, as a 256-byte table in four registers.
struct ByteTable {
  __m512i quarter[4];
};

static_assert(sizeof(OnDiskForm) == 4 && sizeof(CodeOutputTable) == 4 * 256,
              "the table is 256 entries of four bytes, back to back");

// Gathers byte `field` of every entry; `entries` are the table's 1024 bytes.
ByteTable gatherField(const unsigned char* entries, const ByteRow& field) {
  const __m512i index = loadRow(field);
  ByteTable table;
  for (int q = 0; q < 4; ++q) {
    const unsigned char* const block = entries + 256 * q;
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(block), index,
                                                 _mm512_loadu_si512(block + 64));
    const __m512i high = _mm512_permutex2var_epi8(_mm512_loadu_si512(block + 128), index,
                                                  _mm512_loadu_si512(block + 192));
    table.quarter[q] = _mm512_mask_blend_epi8(0xFFFFFFFF00000000, low, high);
  }
  return table;
}

// Byte i of the result is table[index byte i]; `highHalf` holds bit 7 of the
// index bytes.
inline __m512i lookUp(const ByteTable& table, __m512i index, __mmask64 highHalf) {
  const __m512i low = _mm512_permutex2var_epi8(table.quarter[0], index, table.quarter[1]);
  const __m512i high =
      _mm512_permutex2var_epi8(table.quarter[2], index, table.quarter[3]);
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

}  // namespace

ScanResult scanCodesAvx512(const unsigned char* raw, std::size_t size,
                           const CodeOutputTable& outputs, unsigned char* out,
                           std::size_t codeRoom) {
  // The table is read as bytes rather than through std::array (see the top).
  const unsigned char* const entries = reinterpret_cast<const unsigned char*>(&outputs);
  const ByteTable firstBytes = gatherField(entries, kFirstBytes);
  const ByteTable secondBytes = gatherField(entries, kSecondBytes);
  const ByteTable sizes = gatherField(entries, kSizes);
  const __m512i upOne = loadRow(kUpOne);
  const __m512i upTwo = loadRow(kUpTwo);
  const __m512i tens = loadRow(kTens);
  const __m512i hundreds = loadRow(kHundreds);

  unsigned char* const outStart = out;
  std::size_t codes = 0;
  std::size_t at = 0;
  while (size - at >= kScanReadAhead && codeRoom - codes >= kMaxCodesPerChunk) {
    const __m512i bytes = _mm512_loadu_si512(raw + at);
    const auto equal = [&bytes](char value) {
      return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(value));
    };
    const auto greater = [&bytes](char value) {
      return _mm512_cmpgt_epu8_mask(bytes, _mm512_set1_epi8(value));
    };
    const std::uint64_t digits = _mm512_cmplt_epu8_mask(
        _mm512_sub_epi8(bytes, _mm512_set1_epi8('0')), _mm512_set1_epi8(10));
    const std::uint64_t spaces =
        _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('\t')),
                               _mm512_set1_epi8('\r' - '\t' + 1)) |
        equal(' ');
    const std::uint64_t carriageReturns = equal('\r');
    const std::uint64_t lineFeeds = equal('\n');

    // The same rules as scanCodes, on the same classes. A run of three digits
    // ending at byte i is above 255 when its digits, read as text, come
    // after "255"; only the classes of the raw bytes are needed for that.
    const std::uint64_t starts = digits & ~(digits << 1);
    const std::uint64_t ends = ~digits & (digits << 1);
    const std::uint64_t threeDigits = digits & (digits << 1) & (digits << 2);
    const std::uint64_t aboveFive = greater('5');
    const std::uint64_t large =
        threeDigits &
        ((greater('2') << 2) |
         (equal('2') << 2 & ((aboveFive << 1) | (equal('5') << 1 & aboveFive))));
    const std::uint64_t joiningReturns =
        carriageReturns & (digits << 1) & ~(lineFeeds >> 1);
    const std::uint64_t fourthDigits = threeDigits & (digits << 3);
    const std::uint64_t stops =
        ~(digits | spaces) | joiningReturns | fourthDigits | ((large << 1) & ends);
    const std::uint64_t safeEnds = ends & ((stops & (~stops + 1)) - 1);
    const std::uint64_t done =
        safeEnds == 0 ? 0 : ~std::uint64_t{0} >> __builtin_clzll(safeEnds);

    // Every byte's value as the last digit of a code: its digit, plus ten
    // times the byte before, plus a hundred times the one before that when
    // the byte between is a digit too (bytes before the chunk count as no
    // digit, as in scanCodes). Only the codes' last digits are used.
    const __m512i values = _mm512_add_epi8(
        _mm512_and_si512(bytes, _mm512_set1_epi8(0x0F)),
        _mm512_add_epi8(
            _mm512_maskz_permutexvar_epi8(~std::uint64_t{1}, upOne,
                                          _mm512_maskz_shuffle_epi8(digits, tens, bytes)),
            _mm512_maskz_permutexvar_epi8(
                (digits << 1) & ~std::uint64_t{3}, upTwo,
                _mm512_maskz_shuffle_epi8(digits, hundreds, bytes))));
    // A code's first output byte goes in its last digit's place, the second
    // (if any) in the separator's place after it.
    const std::uint64_t lastDigits = safeEnds >> 1;
    const __mmask64 highHalf = _mm512_movepi8_mask(values);
    const std::uint64_t twoByteCodes =
        lastDigits &
        _mm512_cmpeq_epi8_mask(lookUp(sizes, values, highHalf), _mm512_set1_epi8(2));
    const __m512i placed = _mm512_mask_permutexvar_epi8(
        lookUp(firstBytes, values, highHalf), twoByteCodes << 1, upOne,
        lookUp(secondBytes, values, highHalf));
    const std::uint64_t kept = lastDigits | (twoByteCodes << 1);
    const unsigned keptCount = static_cast<unsigned>(__builtin_popcountll(kept));
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~std::uint64_t{0}, keptCount),
                            _mm512_maskz_compress_epi8(kept, placed));
    out += keptCount;
    codes += static_cast<std::size_t>(__builtin_popcountll(lastDigits));

    const std::uint64_t advance = _tzcnt_u64((starts | stops) & ~done);
    if (advance == 0) break;
    at += advance;
  }
  // Built member by member, so that no constructor of it is compiled here.
  return ScanResult{at, codes, static_cast<std::size_t>(out - outStart)};
}

}  // namespace quarvend
#endif
