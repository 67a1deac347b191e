// In-memory sources and sinks with switchable faults, for driving the readers
// and writers without files.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/byte_stream.h"

namespace quarvend::testing {

// Hands out `data` at most `chunk` bytes per read, like a pipe would, and can
// fail a chosen read.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string data, std::size_t chunk = SIZE_MAX)
      : data_(std::move(data)), chunk_(chunk) {}

  std::ptrdiff_t read(unsigned char* buffer, std::size_t size) override {
    if (reads_++ == failingRead) return -1;
    const std::size_t count = std::min({size, chunk_, data_.size() - next_});
    std::memcpy(buffer, data_.data() + next_, count);
    next_ += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  bool close() override {
    closed = true;
    return closeSucceeds;
  }

  int reads() const { return reads_; }
  std::size_t consumed() const { return next_; }

  int failingRead = -1;  // index of the read call that fails, or -1
  bool closeSucceeds = true;
  bool closed = false;

 private:
  std::string data_;
  std::size_t chunk_;
  std::size_t next_ = 0;
  int reads_ = 0;
};

// Collects what is written, and can fail a chosen write or the close.
class MemorySink final : public ByteSink {
 public:
  bool write(const unsigned char* data, std::size_t size) override {
    if (writes_++ == failingWrite) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool close() override {
    closed = true;
    return closeSucceeds;
  }

  int writes() const { return writes_; }

  std::string bytes;
  int failingWrite = -1;  // index of the write call that fails, or -1
  bool closeSucceeds = true;
  bool closed = false;

 private:
  int writes_ = 0;
};

}  // namespace quarvend::testing
