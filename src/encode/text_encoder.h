// Encodes a text as an ostrevic file, a block at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encode/encode_kernels.h"
#include "format/dos_text.h"

namespace quarvend {

// Where a byte stands in the text: both count from 1, the column in bytes.
struct TextPosition {
  std::uint64_t line = 1;
  std::uint64_t column = 1;
};

// The line feeds of text[0..size), counted by the fastest kernel.
inline LineFeeds countLineFeeds(const unsigned char* text, std::size_t size) {
  return bestEncodeKernel().countLineFeeds(text, size);
}

// A streaming encoder. It is fed the text one block at a time, in order, and
// appends the ostrevic file to the caller's buffer: the start marker on a line
// of its own, then each byte's code, in CR LF lines of at most kLineWidth
// characters. It reads the text with the DOS text conventions: a carriage
// return directly before a line feed belongs to that line end, and the first
// Ctrl-Z ends the text. It does no I/O; between blocks it carries only the
// named state below.
class TextEncoder {
 public:
  static constexpr std::size_t kLineWidth = quarvend::kLineWidth;

  // An encoder at the start of a text, laying out runs of codes and counting
  // line feeds with `kernel`.
  explicit TextEncoder(const EncodeKernel& kernel = bestEncodeKernel())
      : encode_(kernel.encode), countLineFeeds_(kernel.countLineFeeds) {}

  enum class Stage : std::uint8_t {
    kText,       // the text may go on
    kMarkEnded,  // a Ctrl-Z ended the text; what follows it is not read
    kComplete,   // finish() wrote the last line end
    kNoCode,     // a byte without a code stopped the encoding; see uncodedByte()
  };

  // The most bytes that feed() of `size` bytes, or finish() (size 0), stores;
  // more than they report, as kernels store codes many bytes at a time.
  static constexpr std::size_t maxOutput(std::size_t size) {
    return 5 * size + kKernelSlack;
  }

  // Encodes block[0..size), the text's next bytes, into `out`, which has room
  // for maxOutput(size) bytes. Returns how many bytes it stored. Once the
  // stage is no longer kText it stores nothing more. `lines`, when given, is
  // countLineFeeds of the block, counted already (say on another thread).
  std::size_t feed(const unsigned char* block, std::size_t size, unsigned char* out,
                   const LineFeeds* lines = nullptr);

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
  // Moves the position of the next byte past text whose line feeds are `lines`.
  void passOver(const LineFeeds& lines);
  void stopAtUncoded(unsigned char byte);
  std::size_t startFile(unsigned char* out);

  EncodeFunction encode_;
  CountFunction countLineFeeds_;
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
