#include "decode/dos_text_reader.h"

namespace quarvend {

DosTextReader::DosTextReader(ByteSource& source, std::size_t blockSize)
    : source_(source),
      blockSize_(blockSize == 0 ? 1 : blockSize),
      block_(new unsigned char[blockSize_]) {}

bool DosTextReader::refill() {
  if (ended_) return false;
  const std::ptrdiff_t got = source_.read(block_.get(), blockSize_);
  if (got <= 0) {
    endInput();
    return false;
  }
  next_ = 0;
  limit_ = static_cast<std::size_t>(got);
  return true;
}

void DosTextReader::endInput() {
  ended_ = true;
  next_ = limit_ = 0;
}

int DosTextReader::close() { return source_.close() ? 0 : -1; }

}  // namespace quarvend
