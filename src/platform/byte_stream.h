// Byte sources and sinks: the seam between the text streams and whatever holds
// the bytes (a file descriptor in the tool, a memory buffer in tests and fuzzers).
#pragma once

#include <cstddef>

namespace quarvend {

// Where a reader's raw bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills `buffer` with up to `size` bytes (size > 0). Returns the number of
  // bytes stored, 0 at the end of the data, or a negative value on a read error.
  virtual std::ptrdiff_t read(unsigned char* buffer, std::size_t size) = 0;
  // Releases the source. Returns false when the release failed.
  virtual bool close() = 0;
};

// Where a writer's finished bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `size` bytes, retrying interrupted and partial writes. Returns
  // false when any of them could not be written.
  virtual bool write(const unsigned char* data, std::size_t size) = 0;
  // Releases the sink. Returns false when the release failed.
  virtual bool close() = 0;
};

}  // namespace quarvend
