// The fixed alphabet of an ostrevic file: code 0 to 255 to one byte of text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "format/dos_text.h"

namespace quarvend {

// The symbol groups, laid end to end from entry 0 with no gap between them.
// Their bytes fill entries 0 to 190; every later entry is 0.
inline constexpr std::array<std::string_view, 8> kSymbolGroups = {
    "\n",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
    "abcdefghijklmnopqrstuvwxyz",
    "0123456789",
    "~!@#$%^&*()_+`-={}|[]\\:\";'<>?,./ ",
    "\xA1\xA2\xA3\xA4\xA5\xA6\xA7\xA8\xA9\xAA\xAB\xAC\xAD\xAE\xAF\xB0"
    "\xB1\xB2\xB3\xB4\xB5\xB6\xB7\xB8\xB9\xBA\xBB\xBC\xBD\xBE\xBF",
    "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
    "\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xDD\xDE\xDF",
    "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
    "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF",
};

class SymbolTable {
 public:
  static constexpr int kSize = 256;

  // Fills the table from kSymbolGroups: each group starts where the one
  // before it ended, so its terminating zero is overwritten by the next group,
  // and the last one's stays, as do all after it.
  constexpr void build() {
    entries_.fill(0);
    std::size_t next = 0;
    for (std::string_view group : kSymbolGroups) {
      for (char symbol : group) entries_[next++] = static_cast<unsigned char>(symbol);
    }
  }

  // The byte for `code`, which must lie in 0 to 255 (0 for codes past the
  // last group). Callers check the range; this does no other work.
  constexpr unsigned char byteFor(std::int32_t code) const {
    return entries_[static_cast<unsigned>(code)];
  }

 private:
  std::array<unsigned char, kSize> entries_{};
};

using CodeOutputTable = std::array<OnDiskForm, SymbolTable::kSize>;

// What each code writes: its byte in on-disk form. Built once, by the compiler.
inline constexpr CodeOutputTable kCodeOutputs = [] {
  SymbolTable table;
  table.build();
  CodeOutputTable outputs{};
  for (int code = 0; code < SymbolTable::kSize; ++code)
    outputs[static_cast<std::size_t>(code)] = onDiskForm(table.byteFor(code));
  return outputs;
}();

}  // namespace quarvend
