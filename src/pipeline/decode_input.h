// Reading the input and feeding it to the decoder, on one thread or, for a
// large regular file, on several, with the text always written in order.
//
// One answer on any number of threads: whatever fails, and wherever, the text
// and the way decoding ends are those of one thread reading the input from
// start to end. A read that fails part-way keeps what it read: the text
// before the failure stands, a code the failure cut off is not decoded, and a
// list that ends before the failure ends without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/encoded_reader.h"
#include "io/byte_source.h"
#include "io/dos_text_writer.h"

namespace quarvend {

inline constexpr std::size_t kBlockSize = std::size_t{128} << 10;
inline constexpr unsigned kMaxThreads = 4;
// The most a block may run past its block size to reach a separator.
inline constexpr std::size_t kMaxWindow = 256;

// Where one block lies in what was read for it.
//
// The input is cut into blocks for the threads after the first block, which
// is decoded on its own up to firstBlockEnd. Block n is read from n block
// sizes after that point, its block size and a window more, where the window
// is min(block size, kMaxWindow); a separator is white space other than a
// carriage return (which may stand inside a code). The invariant: block n
// starts where block n-1 ends, so every byte is decoded once and in order.
// - A block ends just after the first separator in its window (the window
//   bytes after its block size), or else at the end of its read.
// - Block 0 starts at 0. Block n starts just after the first separator in its
//   first window bytes, the one that ended block n-1, as both reads hold
//   those bytes; or, without one there, at the window's end, where block n-1
//   ended: the block then goes on with the code block n-1 left open.
// So a block that starts after a separator starts between codes, and one
// that ends after a separator leaves no code open: its worker completes its
// own last code.
struct BlockSpan {
  std::size_t start = 0;
  std::size_t end = 0;
  bool betweenCodes = false;  // starts after a separator, or is block 0
  bool last = false;          // the read came up short within it: no block follows
};

// The window for blocks of `blockSize` bytes.
std::size_t searchWindow(std::size_t blockSize);

// The span of block `number` in bytes[0..got), read as described above.
BlockSpan blockSpan(const unsigned char* bytes, std::size_t got, std::size_t number,
                    std::size_t blockSize);

// Where the first block, bytes[0..size), is cut for the blocks after it: just
// after its last separator, or 0 when it has none.
std::size_t firstBlockEnd(const unsigned char* bytes, std::size_t size);

// Every buffer that decoding needs, made before the run touches any file, with
// one slot for each block on its way through the threads.
struct DecodeBuffers {
  static constexpr std::size_t kSlots = kMaxThreads + 2;
  struct Slot {
    unsigned char input[kBlockSize + kMaxWindow];
    unsigned char text[EncodedReader::maxOutput(kBlockSize + kMaxWindow)];
    BlockSpan span;
    EncodedReader reader;  // how decoding the block left it, when betweenCodes
    std::size_t textSize = 0;
    bool readFailed = false;  // the last block: its read failed, with `reason`
    std::string reason;
  };
  unsigned char first[kBlockSize];  // the first block, read before anything else
  Slot slots[kSlots];
};

// What the platform says about the input and the machine, from which
// decodeInput chooses its threads.
struct InputFacts {
  bool regularFile = false;  // its bytes stay put: readAt reads any of them
  std::uint64_t size = 0;
  unsigned processors = 1;  // that this process may run on
};

struct DecodeSettings {
  std::size_t blockSize = kBlockSize;  // at most kBlockSize; tests use small ones
  InputFacts input;
};

// How decoding stopped, besides the reader's own end: every read succeeded
// (the reader ended, the input ended, or the output took no more), or one
// failed.
enum class InputEnd { kReadsSucceeded, kReadFailed };

// Feeds `reader` the first block (buffers.first[0..firstSize), read from the
// start of `source`, 0 for an empty input) and then the rest of it, until the
// reader ends, a read fails (kReadFailed, and `reason` says why), or `output`
// delivers nothing any more. The text goes to `output` in order.
InputEnd decodeInput(ByteSource& source, std::size_t firstSize, EncodedReader& reader,
                     DosTextWriter& output, DecodeBuffers& buffers,
                     const DecodeSettings& settings, std::string& reason);

}  // namespace quarvend
