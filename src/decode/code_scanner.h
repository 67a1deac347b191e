// Bulk decoding of the number list: many codes per call, read straight from
// the raw bytes of the reader's block, for lists laid out the common way.
//
// The scanner handles only what it can decode exactly as EncodedReader::nextCodes
// would: codes of one to three digits with values 0 to 255, separated by white
// space, where every carriage return either sits in white space or, right after
// a code's digits, is followed by a line feed (so dropping it changes nothing).
// It stops in front of anything else (signs, longer digit runs, larger values,
// other carriage returns, Ctrl-Z, every byte that ends the list) and leaves
// that code to nextCodes. It never stops inside a code, so no state crosses a
// call: each call starts and ends at a code boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/symbol_table.h"

// The x86-64 kernels are built by GCC and clang (mingw-w64 too), each in a
// file of its own with its own instruction-set flags; scan_kernels.cpp alone
// checks which of them the processor runs.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUARVEND_X86_KERNELS 1
#else
#define QUARVEND_X86_KERNELS 0
#endif

namespace quarvend {

// Raw bytes are classified this many at a time.
inline constexpr std::size_t kChunkSize = 64;

// Every code needs a digit and a byte after it, so at most this many codes end
// inside one chunk.
inline constexpr std::size_t kMaxCodesPerChunk = kChunkSize / 2;

// A chunk is only scanned when this many raw bytes are readable from its
// start: the chunk itself, plus the widest load of a code's digits.
inline constexpr std::size_t kScanReadAhead = kChunkSize + 4;

// The classes of 64 raw bytes, bit i for byte i.
struct ChunkClasses {
  std::uint64_t digit;           // '0' to '9'
  std::uint64_t space;           // white space, carriage return included
  std::uint64_t carriageReturn;  // 13
  std::uint64_t lineFeed;        // 10
};

// A chunk's classes and the values of the codes that end in it. For a run of
// one to three digits whose last digit is byte i, values[i + 1] is the low
// byte of its value, and bit i + 1 of largeEnds is set when the value exceeds
// 255. Entries for longer runs, and for bytes that end no run, mean nothing.
struct ChunkCodes {
  ChunkClasses classes;
  std::uint64_t largeEnds;
  unsigned char values[kChunkSize + 16];
};

// Fills `codes` for chunk[0..kScanReadAhead), whose byte before is no digit,
// with word-sized arithmetic; builds everywhere.
void findCodesPortable(const unsigned char* chunk, ChunkCodes& codes);

#if QUARVEND_X86_KERNELS
// The same as findCodesPortable, with SSE2.
void findCodesSse2(const unsigned char* chunk, ChunkCodes& codes);
#endif

struct ScanResult {
  std::size_t consumed = 0;  // raw bytes read; the next code starts after them
  std::size_t codes = 0;     // codes decoded
  std::size_t written = 0;   // output bytes stored
};

// A scan kernel decodes the leading codes of raw[0..size) into `out`, storing
// outputs[code] for each (two bytes stored, `size` of them kept), and stops at the first
// code it does not handle (see above), once fewer than kScanReadAhead bytes are
// left, or once fewer than kMaxCodesPerChunk codes may still be stored.
// `codeRoom` is that limit: out has room for 2 * codeRoom bytes.
//
// `raw` must start at a code boundary: no code and no sign is in progress, so a
// digit at raw[0] starts a new code. The result's `consumed` is again a code
// boundary: every byte before it is white space or belongs to a decoded code.
//
// Every kernel has this contract and gives the same results and the same
// bytes in out[0..written) for every input; none reads or writes outside the
// ranges given.
using ScanFunction = ScanResult (*)(const unsigned char* raw, std::size_t size,
                                    const CodeOutputTable& outputs, unsigned char* out,
                                    std::size_t codeRoom);

ScanResult scanCodesPortable(const unsigned char* raw, std::size_t size,
                             const CodeOutputTable& outputs, unsigned char* out,
                             std::size_t codeRoom);
#if QUARVEND_X86_KERNELS
ScanResult scanCodesSse2(const unsigned char* raw, std::size_t size,
                         const CodeOutputTable& outputs, unsigned char* out,
                         std::size_t codeRoom);
// Needs AVX-512 F, BW, VBMI and VBMI2.
ScanResult scanCodesAvx512(const unsigned char* raw, std::size_t size,
                           const CodeOutputTable& outputs, unsigned char* out,
                           std::size_t codeRoom);
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
