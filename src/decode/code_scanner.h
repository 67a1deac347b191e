// Bulk decoding of the number list: many codes per call, read straight from
// the raw bytes of the reader's block, for lists laid out the common way.
//
// The scanner handles only what it can decode exactly as EncodedReader::nextCodes
// would: codes of one to three digits with values 0 to 255, separated by white
// space, where every carriage return either sits in white space or, right after
// a code's digits, is followed by a line feed (so dropping it changes nothing).
// It stops in front of anything else (signs, longer digit runs, larger values,
// other carriage returns, Ctrl-Z, every byte that ends the list), or earlier,
// and leaves the rest to nextCodes. It never stops inside a code, so no state
// crosses a call: each call starts and ends at a code boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cpu/x86.h"
#include "format/dos_text.h"
#include "format/ostrevic.h"
#include "format/symbol_table.h"

// The x86-64 kernels (cpu/x86.h) are each in a file of their own;
// scan_kernels.cpp alone chooses which of them run.

namespace quarvend {

// What every kernel assumes of the reading rules, checked here against the
// rules themselves for every byte, so that no kernel can drift from them:
namespace scan {
constexpr bool forEveryByte(bool (*holds)(int byte)) {
  for (int byte = 0; byte < 256; ++byte)
    if (!holds(byte)) return false;
  return true;
}
// White space is one run of bytes and one byte more, as the kernels test it.
static_assert(forEveryByte([](int b) {
  return isSpace(b) == ((b >= kSpaceRunFirst && b <= kSpaceRunLast) || b == kSpaceAlone);
}));
// The one byte dropped on reading is the carriage return, which kernels look
// for by value and take as white space between codes; after a code's digits,
// a line feed next to it ends the code anyway.
static_assert(forEveryByte([](int b) {
  return isDroppedOnReading(b) == (b == kCarriageReturn);
}));
static_assert(isSpace(kCarriageReturn) && isSeparator(kLineFeed));
// A byte that ends the input is neither digit nor white space, so every
// kernel stops in front of it.
static_assert(forEveryByte([](int b) {
  return !endsInput(b) || (!isSpace(b) && !isDigit(b));
}));
// The largest code has three digits; a three-digit value is a code unless its
// hundreds exceed the largest's, or equal them with larger last two digits.
inline constexpr unsigned kLargestHundreds = kLargestCode / 100;
inline constexpr unsigned kLargestLastTwo = kLargestCode % 100;
static_assert(kLargestCode >= 100 && kLargestCode < 1000);
constexpr bool largeByDigits(unsigned hundreds, unsigned lastTwo) {
  return hundreds > kLargestHundreds ||
         (hundreds == kLargestHundreds && lastTwo > kLargestLastTwo);
}
static_assert([] {
  for (unsigned value = 0; value < 1000; ++value)
    if (largeByDigits(value / 100, value % 100) == isCode(value)) return false;
  return true;
}());
}  // namespace scan

// Raw bytes are classified this many at a time.
inline constexpr std::size_t kChunkSize = 64;

// The portable and SSE2 kernels scan a chunk only when this many raw bytes are
// readable from its start: the chunk itself, plus the widest load of a code's
// digits. Shorter rests are not worth a kernel's setup.
inline constexpr std::size_t kScanReadAhead = kChunkSize + 4;

struct ScanResult {
  std::size_t consumed = 0;  // raw bytes read; the next code starts after them
  std::size_t codes = 0;     // codes decoded
  std::size_t written = 0;   // output bytes stored
};

// A scan kernel decodes leading codes of raw[0..size) into `out`, storing
// kCodeOutputs[code] for each, and stops at a code boundary of its choosing:
// at the latest in front of the first code it does not handle (see above),
// and never inside a code whose end it has not seen, since the bytes after
// raw[size) may carry its digits on. It may stop anywhere earlier, even at
// raw[0]: callers make progress the code-by-code way from where it stopped.
//
// `raw` must start at a code boundary: no code and no sign is in progress, so
// a digit at raw[0] starts a new code. The result's `consumed` is again a code
// boundary, and out[0..written) holds exactly the outputs of the codes before
// it: every byte before it is white space or belongs to one of those codes.
// `out` has room for `size` bytes, which is enough, as every code takes at
// least two raw bytes and stores at most two; no kernel reads or writes
// outside raw[0..size) and out[0..size).
using ScanFunction = ScanResult (*)(const unsigned char* raw, std::size_t size,
                                    unsigned char* out);

ScanResult scanCodesPortable(const unsigned char* raw, std::size_t size,
                             unsigned char* out);
#if QUARVEND_X86_KERNELS
ScanResult scanCodesSse2(const unsigned char* raw, std::size_t size, unsigned char* out);
ScanResult scanCodesAvx512(const unsigned char* raw, std::size_t size,
                           unsigned char* out);
#endif

struct ScanKernel {
  const char* name;
  ScanFunction scan;
};

// The kernels this processor runs, fastest first; the portable one is last
// and runs everywhere. Found once, on the first call.
std::span<const ScanKernel> usableKernels();

// The fastest kernel this processor runs.
inline ScanFunction bestScan() { return usableKernels().front().scan; }

}  // namespace quarvend
