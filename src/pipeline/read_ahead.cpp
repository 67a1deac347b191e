#include "pipeline/read_ahead.h"

#include <algorithm>
#include <chrono>

#include "platform/platform.h"

namespace quarvend {

bool readsAhead(int fd, std::uint64_t alreadyRead) {
  std::uint64_t size = 0;
  return platform::isRegularFile(fd, size) && size > alreadyRead &&
         platform::usableProcessors() > 1;
}

ReadAhead::ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded)
    : source_(source), slots_(buffers.slots), slotCount_(threaded ? buffers.kSlots : 1) {
  for (std::size_t i = 0; i < slotCount_; ++i) {
    slots_[i].full = false;
    slots_[i].reason.reserve(platform::kReasonCapacity);
  }
  if (!threaded) return;
  try {
    reader_ = std::thread([this] { run(); });
  } catch (...) {
    // No second thread: the caller reads alone, and one slot serves it.
    slotCount_ = 1;
  }
}

ReadAhead::~ReadAhead() {
  if (!reader_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed();
  }
  reader_.join();
}

bool ReadAhead::canRead() const {
  return !reading_ && !ended_ && reads_ - released_ < slotCount_;
}

void ReadAhead::read(std::unique_lock<std::mutex>& lock) {
  ReadAheadBuffers::Slot& slot = slots_[reads_ % slotCount_];
  reading_ = true;
  lock.unlock();
  // The slot is this thread's until it is marked full.
  slot.failed = !source_.read(slot.bytes, sizeof slot.bytes, slot.size, slot.reason);
  for (std::size_t at = 0; !slot.failed && at < slot.size;
       at += ReadAheadBuffers::kPieceSize)
    slot.lines[at / ReadAheadBuffers::kPieceSize] = countLineFeeds(
        slot.bytes + at, std::min(slot.size - at, ReadAheadBuffers::kPieceSize));
  lock.lock();
  slot.full = true;
  reading_ = false;
  ++reads_;
  ended_ = slot.failed || slot.size == 0;
  changed();
}

void ReadAhead::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (canRead()) {
      read(lock);
    } else {
      awaitChange(kReader, lock);
    }
  }
}

bool ReadAhead::next(const unsigned char*& block, std::size_t& size,
                     const LineFeeds*& lines, std::string& reason) {
  if (taken_ == nullptr || handed_ == taken_->size) {
    // The read before is all handed out: its slot is free again, and the next
    // read comes, made here when no other read is under way.
    std::unique_lock<std::mutex> lock(mutex_);
    if (taken_ != nullptr) {
      taken_->full = false;
      ++released_;
      changed();
    }
    ReadAheadBuffers::Slot& slot = slots_[released_ % slotCount_];
    while (!slot.full) {
      if (canRead()) {
        read(lock);
      } else {
        awaitChange(kCaller, lock);
      }
    }
    taken_ = &slot;
    handed_ = 0;
    if (slot.failed) {
      reason = slot.reason;
      return false;
    }
  }
  block = taken_->bytes + handed_;
  size = std::min(taken_->size - handed_, ReadAheadBuffers::kPieceSize);
  lines = &taken_->lines[handed_ / ReadAheadBuffers::kPieceSize];
  handed_ += size;
  return true;
}

void ReadAhead::changed() {
  changes_.fetch_add(1, std::memory_order_release);
  changed_.notify_all();
}

// When the two threads keep pace, what one waits for comes within about a
// block's time; putting a thread to sleep and waking it costs more than that,
// so each spins that long before it sleeps. But not while both run on one
// processor, where the other thread cannot run until this one sleeps.
void ReadAhead::awaitChange(Thread self, std::unique_lock<std::mutex>& lock) {
  constexpr std::chrono::microseconds kSpin{50};
  const std::uint64_t seen = changes_.load(std::memory_order_relaxed);
  const int here = platform::currentProcessor();
  runsOn_[self].store(here, std::memory_order_relaxed);
  const Thread other = self == kCaller ? kReader : kCaller;
  if (here < 0 || here != runsOn_[other].load(std::memory_order_relaxed)) {
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + kSpin;
    while (changes_.load(std::memory_order_acquire) == seen &&
           std::chrono::steady_clock::now() < until) {
    }
    lock.lock();
  }
  changed_.wait(lock, [&] { return changes_.load(std::memory_order_relaxed) != seen; });
}

}  // namespace quarvend
