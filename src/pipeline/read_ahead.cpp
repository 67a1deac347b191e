#include "pipeline/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/platform.h"

namespace quarvend {

bool readsAhead(int fd, std::uint64_t alreadyRead) {
  std::uint64_t size = 0;
  return platform::isRegularFile(fd, size) && size > alreadyRead &&
         platform::usableProcessors() > 1;
}

ReadAhead::ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded)
    : source_(source), slots_(buffers.slots) {
  for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i) slots_[i].full = false;
  if (!threaded) return;
  try {
    for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i) {
      slots_[i].reason.reserve(platform::kReasonCapacity);
      slots_[i].full = true;
    }
    reader_ = std::thread([this] { run(); });
  } catch (...) {
    // No thread: the caller's thread reads as it asks.
    for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i) slots_[i].full = false;
    return;
  }
  // While the reader starts, the caller writes each slot once, then gives it
  // over: the first write to a page is what costs, and the caller has nothing
  // else to do until the first read.
  for (std::size_t i = 0; i < ReadAheadBuffers::kSlots; ++i) {
    std::memset(slots_[i].bytes, 0, sizeof slots_[i].bytes);
    tell(slots_[i].full, false);
  }
}

ReadAhead::~ReadAhead() {
  if (!reader_.joinable()) return;
  tell(stopping_, true);
  reader_.join();
}

// When the two threads keep pace, what one waits for comes within about a
// block's time; putting a thread to sleep and waking it costs more than that,
// so each spins that long before it sleeps. But not while both run on one
// processor, where the other thread cannot run until this one sleeps.
template <typename Ready>
void ReadAhead::await(Ready ready, std::atomic<int>& mine,
                      const std::atomic<int>& theirs) {
  constexpr std::chrono::microseconds kSpin{50};
  const int here = platform::currentProcessor();
  mine.store(here, std::memory_order_relaxed);
  const bool shared = here >= 0 && here == theirs.load(std::memory_order_relaxed);
  const auto until = std::chrono::steady_clock::now() + kSpin;
  while (!shared && !ready()) {
    if (std::chrono::steady_clock::now() >= until) break;
  }
  if (ready()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, ready);
}

// Set under the lock, so that a thread that saw the old value and is going to
// sleep is asleep before the wake-up.
void ReadAhead::tell(std::atomic<bool>& flag, bool value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    flag = value;
  }
  changed_.notify_all();
}

void ReadAhead::run() {
  for (;; ++read_) {
    ReadAheadBuffers::Slot& slot = slots_[read_ % ReadAheadBuffers::kSlots];
    await([&] { return stopping_ || !slot.full; }, readerOn_, callerOn_);
    if (stopping_) return;
    // The slot is the reader's until it is marked full.
    slot.failed = !source_.read(slot.bytes, sizeof slot.bytes, slot.size, slot.reason);
    for (std::size_t at = 0; !slot.failed && at < slot.size;
         at += ReadAheadBuffers::kPieceSize)
      slot.lines[at / ReadAheadBuffers::kPieceSize] = countLineFeeds(
          slot.bytes + at, std::min(slot.size - at, ReadAheadBuffers::kPieceSize));
    tell(slot.full, true);
    if (slot.failed || slot.size == 0) return;
  }
}

bool ReadAhead::next(const unsigned char*& block, std::size_t& size,
                     const LineFeeds*& lines, std::string& reason) {
  const bool threaded = reader_.joinable();
  if (taken_ == nullptr || handed_ == taken_->size) {
    // The read before is all handed out: it goes back to the reader, and the
    // next one comes. Without a reader, one slot serves every read.
    ReadAheadBuffers::Slot* const slot =
        &slots_[threaded ? reads_ % ReadAheadBuffers::kSlots : 0];
    if (threaded) {
      if (taken_ != nullptr) tell(taken_->full, false);
      await([&] { return slot->full.load(); }, callerOn_, readerOn_);
    } else {
      slot->failed =
          !source_.read(slot->bytes, sizeof slot->bytes, slot->size, slot->reason);
    }
    ++reads_;
    taken_ = slot;
    handed_ = 0;
    if (slot->failed) {
      reason = slot->reason;
      return false;
    }
  }
  block = taken_->bytes + handed_;
  size = std::min(taken_->size - handed_, ReadAheadBuffers::kPieceSize);
  lines = threaded ? &taken_->lines[handed_ / ReadAheadBuffers::kPieceSize] : nullptr;
  handed_ += size;
  return true;
}

}  // namespace quarvend
