// The scan kernel for processors with AVX-512 VBMI2: every code of a chunk is
// valued, looked up and packed into the output in registers, with no work per
// code. Built with its own instruction-set flags (see CMakeLists.txt), so it
// calls no inline function from another header: the linker could otherwise
// keep this file's copy of that function for the whole program.
//
// Unlike the portable kernel, which starts each chunk at the first code the
// chunk before left undecoded, this one steps a fixed 64 bytes, so that no
// chunk's loads wait for the work on the one before. Each chunk decodes the
// codes whose separator (the byte after the last digit) lies in it, taking
// digits that began in the chunk before from that chunk's registers. To end
// exactly where the portable kernel ends, it follows that kernel's chunk
// starts with a few scalar operations a chunk, and tests its loop condition
// at each of them once the end of the input or of the output room is near.
#include "decode/code_scanner.h"

#if QUARVEND_X86_KERNELS
#include <immintrin.h>

namespace quarvend {
namespace {

struct ByteRow {
  unsigned char bytes[kChunkSize];
};

// Byte j of the row is 4 j + field (mod 128): picks one byte of each of 32
// OnDiskForm entries out of 128 bytes of the table.
constexpr ByteRow fieldIndex(unsigned field) {
  ByteRow row{};
  for (unsigned j = 0; j < kChunkSize; ++j)
    row.bytes[j] = static_cast<unsigned char>((4 * j + field) % 128);
  return row;
}

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

// The 16-byte lanes of previous:current that end one lane into current: the
// lane before each lane of current, as the byte shifts below need it.
inline __m512i lanesBefore(__m512i current, __m512i previous) {
  return _mm512_maskz_alignr_epi64(0xFF, current, previous, 6);
}

// Byte i of the result is byte i - distance (1 to 15) of previous:current,
// given lanesBefore(current, previous).
template <int distance>
__m512i bytesBack(__m512i current, __m512i before) {
  return _mm512_alignr_epi8(current, before, 16 - distance);
}

// raw[from..from + 64), zeros past `size`; reads nothing outside raw[0..size).
// Whole chunks are loaded unmasked: with a masked load in every round, each
// chunk waited for the one before.
inline __m512i loadChunk(const unsigned char* raw, std::size_t size, std::size_t from) {
  if (from + kChunkSize <= size) return _mm512_loadu_si512(raw + from);
  if (from >= size) return _mm512_setzero_si512();
  return _mm512_maskz_loadu_epi8(_bzhi_u64(~std::uint64_t{0}, size - from), raw + from);
}

// Where the portable kernel starts its next chunk after one that ends at
// `end`, for at < end <= at + 64: at the last restart up to `end`. Bit i of
// `restarts` stands for at + 1 + i, bit i of `previousRestarts` for
// at - 63 + i. The result is never below end - 63, whatever the masks hold.
inline std::size_t lastRestart(std::size_t end, std::size_t at, std::uint64_t restarts,
                               std::uint64_t previousRestarts) {
  const unsigned k = static_cast<unsigned>(end - at - 1) % kChunkSize;
  const std::uint64_t window = restarts << (63 - k) | previousRestarts >> k >> 1 | 1;
  return end - static_cast<std::size_t>(__builtin_clzll(window));
}

// The output table as the kernel holds it. Where only one code writes two
// bytes, as the line feed does in the tool's table, only the first bytes are
// looked up: that code is told by its value, and its second byte is known.
struct OutputTables {
  ByteTable firstBytes;
  ByteTable secondBytes;  // unused with one two-byte code
  ByteTable sizes;        // likewise
  __m512i twoByteCode;    // the one two-byte code, in every byte
  __m512i twoByteSecond;  // its second byte, in every byte
};

// Ends exactly where scanCodesPortable ends. That kernel starts its chunks at
// a0 = 0, a1, a2 and so on, each at the last restart at or before the end of
// the chunk before: a place whose byte before is no digit, nor a carriage
// return after a digit (at a chunk's last byte it stops there, and decodes
// that code again in the next chunk). Its result is the first chunk start
// that fails its loop condition or, if earlier, where the first stop's code
// starts (the stop itself when no digit is right before it); either way with
// every code before that place decoded. Kept out of line: inlined, both
// forms share one function, laid out worse for the loop.
template <bool kOneTwoByteCode>
__attribute__((noinline)) ScanResult scanChunks(const unsigned char* raw,
                                                std::size_t size,
                                                const OutputTables& tables,
                                                unsigned char* out,
                                                std::size_t codeRoom) {
  const __m512i tens = loadRow(kTens);
  const __m512i hundreds = loadRow(kHundreds);
  unsigned char* const outStart = out;
  std::size_t codes = 0;  // decoded, with their separators before `at`
  std::size_t at = 0;     // this chunk's start
  // The end of the portable kernel's last chunk found, which lies in this one.
  std::size_t portableEnd = kChunkSize;
  // What the chunk before left: no digit before raw[0], no pending output.
  const __m512i zeroDigit = _mm512_set1_epi8('0');
  const __m512i ten = _mm512_set1_epi8(10);
  __m512i previousValues = _mm512_set1_epi8(' ' - '0');
  __m512i previousSeconds = _mm512_setzero_si512();
  __mmask64 previousTwoByteCodes = 0;
  std::uint64_t previousDigits = 0;
  std::uint64_t previousRestarts = ~std::uint64_t{0};
  __m512i bytes = loadChunk(raw, size, 0);
  for (;;) {
    const __m512i next = loadChunk(raw, size, at + kChunkSize);

    // Each separator's code, from the digit values of the three bytes before
    // it (a byte is a digit when its value is below 10): the first, plus ten
    // times the second when it is a digit, plus a hundred times the third
    // when both are digits. The code is above 255 when it has three digits
    // and, read as text, comes after "255".
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
        _mm512_mask_cmpgt_epu8_mask(threeDigits, back3, _mm512_set1_epi8(2)) |
        _mm512_mask_cmpgt_epu8_mask(
            _mm512_mask_cmpeq_epi8_mask(threeDigits, back3, _mm512_set1_epi8(2)), lastTwo,
            _mm512_set1_epi8(55));

    // A code's first output byte goes in its separator's place, the second
    // (if any) in the place after, which for the chunk's last byte is the
    // next chunk's first.
    const __mmask64 highHalf = _mm512_movepi8_mask(values);
    __m512i seconds;       // each code's second byte
    __m512i secondsAfter;  // the same, one place on
    __mmask64 twoByteCodes;
    if constexpr (kOneTwoByteCode) {
      seconds = secondsAfter = tables.twoByteSecond;
      twoByteCodes =
          _mm512_mask_cmpeq_epi8_mask(separatorMask, values, tables.twoByteCode);
    } else {
      seconds = lookUp(tables.secondBytes, values, highHalf);
      secondsAfter = bytesBack<1>(seconds, lanesBefore(seconds, previousSeconds));
      twoByteCodes = _mm512_mask_cmpeq_epi8_mask(
          separatorMask, lookUp(tables.sizes, values, highHalf), _mm512_set1_epi8(2));
    }
    const __mmask64 secondPlaces = _kor_mask64(
        _kshiftli_mask64(twoByteCodes, 1), _kshiftri_mask64(previousTwoByteCodes, 63));
    const __m512i placed = _mm512_mask_blend_epi8(
        secondPlaces, lookUp(tables.firstBytes, values, highHalf), secondsAfter);
    const __mmask64 kept = _kor_mask64(separatorMask, secondPlaces);

    // The byte classes, for the stops and the portable kernel's chunk starts.
    const auto equal = [&bytes](char value) {
      return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(value));
    };
    const std::uint64_t digits = _mm512_cmplt_epu8_mask(digitValues, ten);
    const std::uint64_t spaces =
        _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('\t')),
                               _mm512_set1_epi8('\r' - '\t' + 1)) |
        equal(' ');
    const std::uint64_t carriageReturns = equal('\r');
    const std::uint64_t lineFeedAfter =
        equal('\n') >> 1 | _mm512_cmpeq_epi8_mask(next, _mm512_set1_epi8('\n')) << 63;
    // For each byte: the one, two and three bytes before it are digits.
    const std::uint64_t digitBack1 = digits << 1 | previousDigits >> 63;
    const std::uint64_t digitBack2 = digits << 2 | previousDigits >> 62;
    const std::uint64_t digitBack3 = digits << 3 | previousDigits >> 61;
    const std::uint64_t separators = ~digits & digitBack1;

    // The stops, as scanWith has them, but a carriage return in the chunk's
    // last byte is judged by the next chunk's first byte.
    const std::uint64_t joiningReturns = carriageReturns & digitBack1 & ~lineFeedAfter;
    const std::uint64_t fourthDigits = digits & digitBack1 & digitBack2 & digitBack3;
    const std::uint64_t stops =
        ~(digits | spaces) | joiningReturns | fourthDigits | large;

    // The portable kernel's chunk starts that this chunk decides: one after
    // the chunk's start, and sometimes one before it.
    const std::uint64_t restarts = ~digits & ~(carriageReturns & digitBack1);
    const std::size_t firstStart =
        lastRestart(portableEnd, at, restarts, previousRestarts);
    std::size_t portableStart = firstStart;
    if (portableStart <= at) {
      portableStart =
          lastRestart(portableStart + kChunkSize, at, restarts, previousRestarts);
    }
    portableEnd = portableStart + kChunkSize;

    // Far from the end of the input and of the output room, no chunk start
    // found here fails the portable kernel's loop condition.
    const bool roomy = size - at >= kChunkSize + kScanReadAhead &&
                       codeRoom - codes >= 2 * kMaxCodesPerChunk;
    if (stops != 0 || !roomy) [[unlikely]] {
      // Where the portable kernel ends, if in this chunk.
      std::size_t end = ~std::size_t{0};
      if (stops != 0) {
        // The digits right before the first stop, at most three, start its code.
        const unsigned stop = static_cast<unsigned>(_tzcnt_u64(stops));
        const std::uint64_t run = digitBack1 >> stop & 1;
        end = at + stop - run - (run & digitBack2 >> stop) -
              (run & (digitBack2 & digitBack3) >> stop);
      }
      const auto failsLoopTest = [&](std::size_t start) {
        const std::size_t codesBefore =
            codes + (start > at ? static_cast<std::size_t>(__builtin_popcountll(
                                      _bzhi_u64(separators, start - at)))
                                : 0);
        return start + kScanReadAhead > size ||
               codesBefore + kMaxCodesPerChunk > codeRoom;
      };
      if (firstStart < end && failsLoopTest(firstStart)) {
        end = firstStart;
      } else if (portableStart < end && failsLoopTest(portableStart)) {
        end = portableStart;
      }
      if (end != ~std::size_t{0}) {
        // Nothing before `at` is taken back: only digits lie between `end`
        // and `at` when `end` comes first.
        if (end >= at) {
          const std::size_t through = end - at;
          const std::uint64_t keep = _bzhi_u64(kept, static_cast<unsigned>(through + 1));
          const unsigned count = static_cast<unsigned>(__builtin_popcountll(keep));
          _mm512_mask_storeu_epi8(out, _bzhi_u64(~std::uint64_t{0}, count),
                                  _mm512_maskz_compress_epi8(keep, placed));
          out += count;
          codes += static_cast<std::size_t>(__builtin_popcountll(
              _bzhi_u64(separators, static_cast<unsigned>(through))));
          // A code that ends the chunk has its second byte in the next one.
          if (through == kChunkSize && twoByteCodes >> 63 != 0) {
            _mm512_mask_storeu_epi8(
                out, 1, _mm512_maskz_compress_epi8(std::uint64_t{1} << 63, seconds));
            ++out;
          }
        }
        // Built member by member, so that no constructor of it is compiled here.
        return ScanResult{end, codes, static_cast<std::size_t>(out - outStart)};
      }
    }

    // A whole register is stored, which is faster than a masked store; with
    // room for 64 more codes, it fits.
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, placed));
    out += __builtin_popcountll(kept);
    codes += static_cast<std::size_t>(__builtin_popcountll(separators));

    previousValues = digitValues;
    previousSeconds = seconds;
    previousTwoByteCodes = twoByteCodes;
    previousDigits = digits;
    previousRestarts = restarts;
    bytes = next;
    at += kChunkSize;
  }
}

}  // namespace

ScanResult scanCodesAvx512(const unsigned char* raw, std::size_t size,
                           const CodeOutputTable& outputs, unsigned char* out,
                           std::size_t codeRoom) {
  if (size < kScanReadAhead || codeRoom < kMaxCodesPerChunk) return ScanResult{0, 0, 0};
  // The table is read as bytes rather than through std::array (see the top).
  const unsigned char* const entries = reinterpret_cast<const unsigned char*>(&outputs);
  OutputTables tables;
  tables.firstBytes = gatherField(entries, kFirstBytes);
  tables.sizes = gatherField(entries, kSizes);
  std::uint64_t twoByteCodes[4];
  unsigned twoByteCount = 0;
  for (int q = 0; q < 4; ++q) {
    twoByteCodes[q] =
        _mm512_cmpeq_epi8_mask(tables.sizes.quarter[q], _mm512_set1_epi8(2));
    twoByteCount += static_cast<unsigned>(__builtin_popcountll(twoByteCodes[q]));
  }
  if (twoByteCount != 1) {
    tables.secondBytes = gatherField(entries, kSecondBytes);
    tables.twoByteCode = tables.twoByteSecond = _mm512_setzero_si512();
    return scanChunks<false>(raw, size, tables, out, codeRoom);
  }
  unsigned code = 0;
  while (twoByteCodes[code / 64] == 0) code += 64;
  code += static_cast<unsigned>(_tzcnt_u64(twoByteCodes[code / 64]));
  tables.twoByteCode = _mm512_set1_epi8(static_cast<char>(code));
  tables.twoByteSecond = _mm512_set1_epi8(static_cast<char>(entries[4 * code + 1]));
  return scanChunks<true>(raw, size, tables, out, codeRoom);
}

}  // namespace quarvend
#endif
