// Where an input's raw bytes come from: a file, or memory in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvend {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`; `got` is 0 at the end of the
  // input. Returns false with the system's reason when the read failed.
  virtual bool read(unsigned char* buffer, std::size_t size, std::size_t& got,
                    std::string& reason) = 0;
  // Reads up to `size` bytes from `offset`, from any thread, for a source
  // whose bytes stay put (a regular file); `got` is short only at the end,
  // or when the read fails, and then counts the bytes read before it.
  virtual bool readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size,
                      std::size_t& got, std::string& reason) = 0;
};

// A source on a file descriptor.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  bool read(unsigned char* buffer, std::size_t size, std::size_t& got,
            std::string& reason) override;
  bool readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason) override;

 private:
  int fd_;
};

}  // namespace quarvend
