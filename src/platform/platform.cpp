// What the platform layer does the same way on every operating system.
#include "platform/platform.h"

#include "platform/os.h"

namespace quarvend::platform {

bool readSome(int fd, unsigned char* buffer, std::size_t size, std::size_t& got,
              std::string& reason) {
  const std::size_t count = size < os::kMaxTransfer ? size : os::kMaxTransfer;
  for (;;) {
    switch (os::readOnce(fd, buffer, count, got, reason)) {
      case os::Step::kDone:
        return true;
      case os::Step::kInterrupted:
        break;
      case os::Step::kWouldBlock:  // the input is opened blocking; never seen
      case os::Step::kFailed:
        return false;
    }
  }
}

bool readAt(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
            std::size_t& got, std::string& reason) {
  got = 0;
  while (got < size) {
    const std::size_t want =
        size - got < os::kMaxTransfer ? size - got : os::kMaxTransfer;
    std::size_t count = 0;
    switch (os::readOnceAt(fd, offset + got, buffer + got, want, count, reason)) {
      case os::Step::kDone:
        if (count == 0) return true;
        got += count;
        break;
      case os::Step::kInterrupted:
        break;
      case os::Step::kWouldBlock:
      case os::Step::kFailed:
        return false;
    }
  }
  return true;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size, std::string& reason) {
  while (size > 0) {
    std::size_t written = 0;
    const std::size_t count = size < os::kMaxTransfer ? size : os::kMaxTransfer;
    switch (os::writeOnce(fd, data, count, written, reason)) {
      case os::Step::kDone:
        data += written;
        size -= written;
        break;
      case os::Step::kInterrupted:
        break;
      case os::Step::kWouldBlock:
        if (!os::waitWritable(fd, reason)) return false;
        break;
      case os::Step::kFailed:
        return false;
    }
  }
  return true;
}

}  // namespace quarvend::platform
