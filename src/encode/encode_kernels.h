// Each byte's code text, and the kernels that lay codes out in lines: a
// portable one that runs everywhere, and wider ones for processors that have
// them, each giving the portable one's bytes exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cpu/x86.h"
#include "format/symbol_table.h"

// The x86-64 kernels (cpu/x86.h) are each in a file of their own;
// encode_kernels.cpp alone chooses which of them run.

namespace quarvend {

inline constexpr std::int16_t kNoCode = -1;

// Each byte's code: the lowest code that yields it, so that byte 0 gets 191,
// or kNoCode for a byte no code yields. Inverted from the decoder's table by
// the compiler, so the two cannot disagree.
inline constexpr std::array<std::int16_t, SymbolTable::kSize> kCodeForByte = [] {
  SymbolTable table;
  table.build();
  std::array<std::int16_t, SymbolTable::kSize> codes{};
  codes.fill(kNoCode);
  for (int code = SymbolTable::kSize - 1; code >= 0; --code)
    codes[table.byteFor(code)] = static_cast<std::int16_t>(code);
  return codes;
}();

// The most characters on a line of codes.
inline constexpr std::size_t kLineWidth = 76;

// A code as it stands after another on its line: a space, then its digits.
struct CodeText {
  unsigned char bytes[4];   // all four always stored, so that a copy needs no branch
  std::uint8_t size;        // how many of them count: 2 to 4, or kStops
  unsigned char unused[3];  // keeps the entry at eight bytes, one load
};

// The size of a byte that needs a rule of its own: larger than any line, so
// that one test of the width also finds such a byte.
inline constexpr std::uint8_t kStops = 128;
// A line's width is kept in a byte, and a stopping byte overflows any line.
static_assert(kLineWidth < kStops,
              "kStops must stay above the line width for the width test to find it");

// Each byte's code text; bytes past a text's size are 0.
inline constexpr std::array<CodeText, SymbolTable::kSize> kCodeTexts = [] {
  std::array<CodeText, SymbolTable::kSize> texts{};
  for (std::size_t byte = 0; byte < texts.size(); ++byte) {
    const int code = kCodeForByte[byte];
    if (code == kNoCode) {
      texts[byte].size = kStops;
      continue;
    }
    const int digits = code >= 100 ? 3 : code >= 10 ? 2 : 1;
    CodeText& text = texts[byte];
    text.bytes[0] = ' ';
    for (int at = digits, rest = code; at > 0; --at, rest /= 10)
      text.bytes[at] = static_cast<unsigned char>('0' + rest % 10);
    text.size = static_cast<std::uint8_t>(1 + digits);
  }
  return texts;
}();

// An encoding kernel lays out the codes of the text from `at` up to `limit`,
// or up to the first byte that needs a rule of its own (a byte without a
// code, other than a carriage return right before a line feed, which it
// drops), and returns where it stopped. It appends to `out` and moves it on,
// and carries `width`, the characters on the output's current line: a code
// goes on the line when it fits in kLineWidth, else it starts a new one, its
// CR LF taking the place of its space. It may store up to kKernelSlack bytes
// past what it appends, and needs room for 5 bytes per text byte besides.
using EncodeFunction = const unsigned char* (*)(const unsigned char* at,
                                                const unsigned char* limit,
                                                unsigned char*& out, std::size_t& width);

// What a block's line feeds do to a text position: how many it holds, and
// how many bytes follow the last of them (all of its bytes when it has none).
struct LineFeeds {
  std::uint64_t count = 0;
  std::uint64_t after = 0;
};

// A kernel's count of the line feeds of text[0..size).
using CountFunction = LineFeeds (*)(const unsigned char* text, std::size_t size);

inline constexpr std::size_t kKernelSlack = 192;

const unsigned char* encodeRunPortable(const unsigned char* at,
                                       const unsigned char* limit, unsigned char*& out,
                                       std::size_t& width);
LineFeeds countLineFeedsPortable(const unsigned char* text, std::size_t size);
// The portable kernel's one code at a time, without the table of pairs: for
// the rest of a run from a chunk that a wider kernel found holds a byte that
// stops it.
const unsigned char* encodeRunSingly(const unsigned char* at, const unsigned char* limit,
                                     unsigned char*& out, std::size_t& width);
#if QUARVEND_X86_KERNELS
const unsigned char* encodeRunAvx512(const unsigned char* at, const unsigned char* limit,
                                     unsigned char*& out, std::size_t& width);
LineFeeds countLineFeedsAvx512(const unsigned char* text, std::size_t size);
#endif

struct EncodeKernel {
  const char* name;
  EncodeFunction encode;
  CountFunction countLineFeeds;
};

// The kernels this processor runs, fastest first; the portable one is last
// and runs everywhere. Found once, on the first call.
std::span<const EncodeKernel> usableEncodeKernels();

// The fastest kernel this processor runs.
inline const EncodeKernel& bestEncodeKernel() { return usableEncodeKernels().front(); }

}  // namespace quarvend
