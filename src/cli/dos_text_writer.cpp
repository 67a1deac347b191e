#include "cli/dos_text_writer.h"

#include <algorithm>
#include <cstring>

namespace quarvend {

DosTextWriter::DosTextWriter(ByteSink& sink, std::size_t bufferSize)
    : sink_(sink),
      capacity_(bufferSize < 2 ? 2 : bufferSize),
      buffer_(new unsigned char[capacity_]) {}

void DosTextWriter::putOnDisk(const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    if (used_ == capacity_) flush();
    const std::size_t part = std::min(size, capacity_ - used_);
    std::memcpy(buffer_.get() + used_, bytes, part);
    used_ += part;
    bytes += part;
    size -= part;
  }
}

bool DosTextWriter::flush() {
  if (used_ > 0 && !sink_.write(buffer_.get(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

int DosTextWriter::close() {
  flush();
  if (!sink_.close()) failed_ = true;
  return failed_ ? -1 : 0;
}

}  // namespace quarvend
