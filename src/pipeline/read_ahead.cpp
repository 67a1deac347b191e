#include "pipeline/read_ahead.h"

#include "platform/platform.h"

namespace quarvend {

bool readsAhead(int fd) {
  std::uint64_t size = 0;
  return platform::isRegularFile(fd, size) && platform::usableProcessors() > 1;
}

ReadAhead::ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded)
    : source_(source), slots_(buffers.slots) {
  for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i) slots_[i].full = false;
  if (!threaded) return;
  try {
    for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i)
      slots_[i].reason.reserve(platform::kReasonCapacity);
    reader_ = std::thread([this] { run(); });
  } catch (...) {
    // No thread: the caller's thread reads as it asks.
  }
}

ReadAhead::~ReadAhead() {
  if (!reader_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

void ReadAhead::run() {
  for (;; ++read_) {
    ReadAheadBuffers::Slot& slot = slots_[read_ % ReadAheadBuffers::kSlots];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !slot.full; });
      if (stopping_) return;
    }
    // The slot is the reader's until it is marked full.
    slot.failed = !source_.read(slot.bytes, sizeof slot.bytes, slot.size, slot.reason);
    if (!slot.failed) slot.lines = countLineFeeds(slot.bytes, slot.size);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.full = true;
    }
    changed_.notify_all();
    if (slot.failed || slot.size == 0) return;
  }
}

bool ReadAhead::next(const unsigned char*& block, std::size_t& size,
                     const LineFeeds*& lines, std::string& reason) {
  ReadAheadBuffers::Slot& slot = slots_[taken_ % ReadAheadBuffers::kSlots];
  if (!reader_.joinable()) {
    ++taken_;
    block = slot.bytes;
    lines = nullptr;
    return source_.read(slot.bytes, sizeof slot.bytes, size, reason);
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // The block taken before goes back to the reader.
    if (taken_ > 0) slots_[(taken_ - 1) % ReadAheadBuffers::kSlots].full = false;
    changed_.wait(lock, [&] { return slot.full; });
  }
  changed_.notify_all();
  ++taken_;
  block = slot.bytes;
  size = slot.size;
  lines = &slot.lines;
  if (slot.failed) reason = slot.reason;
  return !slot.failed;
}

}  // namespace quarvend
