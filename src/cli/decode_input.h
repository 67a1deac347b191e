// Reading the input and feeding it to the decoder, on one thread or, for a
// large regular file, on several, with the text always written in order.
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

// Every buffer that decoding needs, made before the run touches any file.
// On several threads, block n is read from a fixed offset, n block sizes on,
// and runs from the first white space in its first kCarry bytes (or block
// size, if smaller) to the first in as many bytes after its block size, so
// that every block starts between codes; each is read with those bytes more.
struct DecodeBuffers {
  static constexpr std::size_t kCarry = 256;
  static constexpr std::size_t kSlots = kMaxThreads + 2;
  // Room before a block's text for the end of the code the block before
  // left open, so that both go out in one write (DosTextWriter::putOnDisk).
  static constexpr std::size_t kTextRoom = EncodedReader::maxOutput(1);
  struct Slot {
    unsigned char input[kBlockSize + kCarry];
    unsigned char text[kTextRoom + EncodedReader::maxOutput(kBlockSize + kCarry)];
  };
  unsigned char first[kBlockSize];  // the first block, read before anything else
  Slot slots[kSlots];
};

struct DecodeSettings {
  std::size_t blockSize = kBlockSize;  // at most kBlockSize; tests use small ones
  unsigned threads = 1;                // at most kMaxThreads
  bool splittable = false;             // a large file that readAt can read
};

// How decoding stopped, besides the reader's own end.
enum class InputEnd { kDecoded, kReadFailed };

// Feeds `reader` the first block (buffers.first[0..firstSize), read from
// the start of `source`, 0 for an empty input) and then the rest of it, until the reader
// ends, a read fails (kReadFailed, and `reason` says why; a code the failure cut off
// is not decoded), or `output` delivers nothing any more. The text goes to `output` in
// order.
InputEnd decodeInput(ByteSource& source, std::size_t firstSize, EncodedReader& reader,
                     DosTextWriter& output, DecodeBuffers& buffers,
                     const DecodeSettings& settings, std::string& reason);

}  // namespace quarvend
