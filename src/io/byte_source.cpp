#include "io/byte_source.h"

#include "platform/platform.h"

namespace quarvend {

bool FileSource::read(unsigned char* buffer, std::size_t size, std::size_t& got,
                      std::string& reason) {
  return platform::readSome(fd_, buffer, size, got, reason);
}

bool FileSource::readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size,
                        std::size_t& got, std::string& reason) {
  return platform::readAt(fd_, offset, buffer, size, got, reason);
}

}  // namespace quarvend
