// What each operating system's file provides for the logic that the platform
// layer shares between them (platform.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvend::platform::os {

// The most one read or write call is asked to move; Windows counts in
// unsigned int, and POSIX leaves larger requests to the implementation.
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

enum class Step { kDone, kInterrupted, kWouldBlock, kFailed };

// Reads at the file position, moving it, instead of at an offset.
inline constexpr std::uint64_t kFilePosition = UINT64_MAX;

// One read call of at most `size` bytes from `offset`, or from the file
// position for kFilePosition; sets `got` for kDone (0 at the end of the file),
// and `reason` for kFailed.
Step readOnce(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason);

// One write call of at most `size` bytes; sets `written` for kDone, and
// `reason` for kFailed.
Step writeOnce(int fd, const unsigned char* data, std::size_t size, std::size_t& written,
               std::string& reason);

// Waits until `fd` takes more bytes.
bool waitWritable(int fd, std::string& reason);

// Fills `reason` with the system's words for `error`, in place, so that a
// reason reserved at start-up is filled without allocating.
void setReason(std::string& reason, int error);

// What a read or write call's `result` means: a byte count, which it stores
// in `count`, or -1 with errno set, which also fills `reason` for every step
// but kInterrupted.
Step stepAfter(long long result, std::size_t& count, std::string& reason);

}  // namespace quarvend::platform::os
