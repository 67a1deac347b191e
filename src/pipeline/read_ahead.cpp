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

ReadAhead::ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded,
                     std::size_t handOverAfter)
    : source_(source),
      slots_(buffers.slots),
      slotCount_(threaded ? buffers.kSlots : 1),
      handOverAfter_(handOverAfter) {
  for (std::size_t i = 0; i < slotCount_; ++i) {
    slots_[i].full = false;
    slots_[i].reason.reserve(platform::kReasonCapacity);
  }
  if (!threaded) return;
  try {
    second_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      work(1, lock);
    });
  } catch (...) {
    // No second thread: the caller reads alone, and one slot serves it.
    slotCount_ = 1;
  }
}

ReadAhead::~ReadAhead() {
  if (!second_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    over_ = true;
    changed();
  }
  second_.join();
}

bool ReadAhead::handOut(PieceTaker& taker, std::string& reason) {
  std::unique_lock<std::mutex> lock(mutex_);
  taker_ = &taker;
  reason_ = &reason;
  work(0, lock);
  return !failed_;
}

bool ReadAhead::canRead() const {
  return !reading_ && !ended_ && reads_ - taken_ < slotCount_;
}

void ReadAhead::work(std::size_t worker, std::unique_lock<std::mutex>& lock) {
  while (!over_) {
    ReadAheadBuffers::Slot& next = slots_[taken_ % slotCount_];
    if (taker_ != nullptr && takingWorker_ == worker && next.full) {
      lock.unlock();
      const bool more = takeSlot(worker, next);
      lock.lock();
      // With every slot full, the other thread has had to wait for this one:
      // after enough such reads in a row it takes the next pieces, and this
      // one reads. So the taking leaves a processor that is slower than the
      // reading, and stays on one that keeps pace.
      const bool waitedFor = slotCount_ > 1 && reads_ - taken_ == slotCount_;
      next.full = false;
      ++taken_;
      over_ = over_ || !more;
      waitedFor_ = waitedFor ? waitedFor_ + 1 : 0;
      if (waitedFor_ == handOverAfter_) {
        takingWorker_ = 1 - worker;
        waitedFor_ = 0;
      }
      changed();
    } else if (canRead()) {
      read(lock);
    } else {
      awaitChange(worker, lock);
    }
  }
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

bool ReadAhead::takeSlot(std::size_t worker, ReadAheadBuffers::Slot& slot) {
  if (slot.failed) {
    failed_ = true;
    *reason_ = slot.reason;
    return false;
  }
  if (slot.size == 0) {
    taker_->take(worker, slot.bytes, 0, LineFeeds{});
    return false;
  }
  for (std::size_t at = 0; at < slot.size; at += ReadAheadBuffers::kPieceSize) {
    const std::size_t size = std::min(slot.size - at, ReadAheadBuffers::kPieceSize);
    if (!taker_->take(worker, slot.bytes + at, size,
                      slot.lines[at / ReadAheadBuffers::kPieceSize]))
      return false;
  }
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
void ReadAhead::awaitChange(std::size_t worker, std::unique_lock<std::mutex>& lock) {
  constexpr std::chrono::microseconds kSpin{50};
  const std::uint32_t seen = changes_.load(std::memory_order_relaxed);
  const int here = platform::currentProcessor();
  runsOn_[worker].store(here, std::memory_order_relaxed);
  if (here < 0 || here != runsOn_[1 - worker].load(std::memory_order_relaxed)) {
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
