// What the platform layer does the same way on every operating system.
#include "platform/platform.h"

#include <cerrno>
#include <cstring>

#include "platform/os.h"

namespace quarvend::platform {

namespace os {

void setReason(std::string& reason, int error) { reason.assign(std::strerror(error)); }

Step stepAfter(long long result, std::size_t& count, std::string& reason) {
  if (result >= 0) {
    count = static_cast<std::size_t>(result);
    return Step::kDone;
  }
  const int error = errno;
  if (error == EINTR) return Step::kInterrupted;
  setReason(reason, error);
  return error == EAGAIN || error == EWOULDBLOCK ? Step::kWouldBlock : Step::kFailed;
}

}  // namespace os

namespace {

// Reads into buffer[0..size) from `offset` (or the file position), retrying
// interrupted reads; with `fill`, a short read is continued until the end of
// the file. `got` counts the bytes read, also those before a failure.
bool readFrom(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
              bool fill, std::size_t& got, std::string& reason) {
  got = 0;
  while (got < size) {
    const std::size_t want =
        size - got < os::kMaxTransfer ? size - got : os::kMaxTransfer;
    const std::uint64_t at = offset == os::kFilePosition ? offset : offset + got;
    std::size_t count = 0;
    switch (os::readOnce(fd, at, buffer + got, want, count, reason)) {
      case os::Step::kDone:
        got += count;
        if (count == 0 || !fill) return true;
        break;
      case os::Step::kInterrupted:
        break;
      case os::Step::kWouldBlock:  // inputs are opened blocking; never seen
      case os::Step::kFailed:
        return false;
    }
  }
  return true;
}

}  // namespace

bool readSome(int fd, unsigned char* buffer, std::size_t size, std::size_t& got,
              std::string& reason) {
  return readFrom(fd, os::kFilePosition, buffer, size, false, got, reason);
}

bool readAt(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
            std::size_t& got, std::string& reason) {
  return readFrom(fd, offset, buffer, size, true, got, reason);
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
