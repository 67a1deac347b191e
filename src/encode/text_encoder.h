// Encodes a text as an ostrevic file, a block at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "format/dos_text.h"
#include "format/symbol_table.h"

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

// Where a byte stands in the text: both count from 1, the column in bytes.
struct TextPosition {
  std::uint64_t line = 1;
  std::uint64_t column = 1;
};

// A streaming encoder. It is fed the text one block at a time, in order, and
// appends the ostrevic file to the caller's buffer: the start marker on a line
// of its own, then each byte's code, in CR LF lines of at most kLineWidth
// characters. It reads the text with the DOS text conventions: a carriage
// return directly before a line feed belongs to that line end, and the first
// Ctrl-Z ends the text. It does no I/O; between blocks it carries only the
// named state below.
class TextEncoder {
 public:
  static constexpr std::size_t kLineWidth = 76;

  enum class Stage : std::uint8_t {
    kText,       // the text may go on
    kMarkEnded,  // a Ctrl-Z ended the text; what follows it is not read
    kComplete,   // finish() wrote the last line end
    kNoCode,     // a byte without a code stopped the encoding; see uncodedByte()
  };

  // The most bytes that feed() of `size` bytes, or finish() (size 0), stores;
  // a little more than they report, as codes are stored eight bytes at a time.
  static constexpr std::size_t maxOutput(std::size_t size) { return 5 * size + 8; }

  // Encodes block[0..size), the text's next bytes, into `out`, which has room
  // for maxOutput(size) bytes. Returns how many bytes it stored. Once the
  // stage is no longer kText it stores nothing more.
  std::size_t feed(const unsigned char* block, std::size_t size, unsigned char* out);

  // The text has ended: ends its last line, or stops at a carriage return
  // left waiting for a line feed. Stores nothing after a byte without a
  // code, so that the output is an exact prefix of the encoding.
  std::size_t finish(unsigned char* out);

  Stage stage() const { return stage_; }
  bool takesMore() const { return stage_ == Stage::kText; }
  // For kNoCode: the byte, and where it stands in the text.
  unsigned char uncodedByte() const { return uncoded_; }
  TextPosition uncodedAt() const { return uncodedAt_; }

 private:
  // Encodes from `at` up to `limit` or the first byte that needs a rule of
  // its own; returns where it stopped.
  const unsigned char* encodeRun(const unsigned char* at, const unsigned char* limit,
                                 unsigned char*& out);
  // Counts text[0..size) into the position of the next byte.
  void passOver(const unsigned char* text, std::size_t size);
  void stopAtUncoded(unsigned char byte);
  std::size_t startFile(unsigned char* out);

  Stage stage_ = Stage::kText;
  bool started_ = false;         // the start marker is written
  bool pendingReturn_ = false;   // the last block ended in a carriage return
  std::uint8_t lineWidth_ = 0;   // characters on the output's current line
  std::uint64_t line_ = 1;       // the text's line of the next byte
  std::uint64_t lineBytes_ = 0;  // bytes before the next one on its line
  unsigned char uncoded_ = 0;
  TextPosition uncodedAt_;
};

}  // namespace quarvend
