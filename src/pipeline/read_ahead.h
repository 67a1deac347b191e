// Reading a source's blocks ahead on a second thread, while the blocks
// before are taken: the pieces come in order, each read once, and a failed
// read comes where it happened, after every piece read before it. The two
// threads share the work. Either one reads whenever no read is under way, so
// the taking never waits for the second thread to start; and the thread that
// takes the pieces hands that over once the other one has waited for it many
// times in a row, so that the taking moves to whichever processor keeps pace.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "encode/text_encoder.h"
#include "io/byte_source.h"

namespace quarvend {

// Whether the input on `fd`, of which `alreadyRead` bytes are read, is read
// ahead: when it is a regular file, whose reads end soon whatever happens, so
// that the reader can always be waited for; when it holds more than was read;
// and when the process may run on more than one processor.
bool readsAhead(int fd, std::uint64_t alreadyRead);

// The blocks on their way from the reader to the caller. Reads are large, as
// large reads cost less per byte; the caller takes each in pieces, so that
// what it makes of one piece stays small.
struct ReadAheadBuffers {
  static constexpr std::size_t kPieceSize = std::size_t{64} << 10;
  static constexpr std::size_t kPieces = 2;
  static constexpr std::size_t kReadSize = kPieces * kPieceSize;
  static constexpr std::size_t kSlots = 3;
  struct Slot {
    unsigned char bytes[kReadSize];
    std::size_t size = 0;
    bool failed = false;  // the read failed, with `reason`; no block follows
    std::string reason;
    LineFeeds lines[kPieces];  // of each piece, counted by the thread that read it
    bool full = false;         // read, and not yet taken back by the caller
  };
  Slot slots[kSlots];
};

// What the pieces go to, one at a time and in order, from either thread.
class PieceTaker {
 public:
  virtual ~PieceTaker() = default;
  // Takes block[0..size), the source's next piece, whose line feeds are
  // `lines`; size 0 at the end. `worker` is 0 on the thread that called
  // handOut and 1 on the other, for memory that each keeps to itself. Returns
  // whether it takes more.
  virtual bool take(std::size_t worker, const unsigned char* block, std::size_t size,
                    const LineFeeds& lines) = 0;
};

class ReadAhead {
 public:
  static constexpr std::size_t kWorkers = 2;  // the caller's thread and a second one
  // How many reads in a row whose taking ends with every slot full hand the
  // taking over to the other thread, unless the caller asks otherwise.
  static constexpr std::size_t kHandOverAfter = 128;

  // Reads `source` from where it stands, on two threads when `threaded` and a
  // second one can be had, else on the caller's thread alone; the taking is
  // handed over after `handOverAfter` such reads.
  ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded,
            std::size_t handOverAfter = kHandOverAfter);
  // Stops the second thread after what it is doing, and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Hands the source's pieces to `taker`, in order, until it takes no more
  // or has taken the end. False, with the system's reason, when a read
  // failed before that; the pieces before the failed read are all taken.
  // Called once.
  bool handOut(PieceTaker& taker, std::string& reason);

 private:
  // Reads and takes until the taking is over; both threads run it, with the
  // lock held on entry and on return.
  void work(std::size_t worker, std::unique_lock<std::mutex>& lock);
  // Takes the pieces of `slot`; false when that ends the taking.
  bool takeSlot(std::size_t worker, ReadAheadBuffers::Slot& slot);
  // Whether a read may start: none is under way, the source has not ended,
  // and a slot is free.
  bool canRead() const;
  // Makes the next read, with the lock held on entry and on return.
  void read(std::unique_lock<std::mutex>& lock);
  // Waits, with the lock held on entry and on return, until another change.
  void awaitChange(std::size_t worker, std::unique_lock<std::mutex>& lock);
  // Marks a change, under the lock, for a thread that waits for one.
  void changed();

  ByteSource& source_;
  ReadAheadBuffers::Slot* const slots_;
  std::size_t slotCount_;  // one when the caller reads alone
  const std::size_t handOverAfter_;
  PieceTaker* taker_ = nullptr;
  std::string* reason_ = nullptr;
  bool failed_ = false;  // a read failed, and the taking reached it

  // Under the lock:
  std::uint64_t reads_ = 0;       // reads made
  std::uint64_t taken_ = 0;       // reads whose pieces are all taken
  std::size_t takingWorker_ = 0;  // the worker that takes the next read's pieces
  bool reading_ = false;          // a read is under way
  bool ended_ = false;            // the last read met the end, or failed
  bool over_ = false;             // the taking is over, or the second thread is to stop
  std::size_t waitedFor_ = 0;     // reads in a row the other thread waited for

  std::mutex mutex_;
  std::condition_variable changed_;
  // Counts changes, wrapping round: set under the lock, and read without it
  // by a thread that spins before it sleeps. 32 bits, which every processor
  // changes in one step.
  std::atomic<std::uint32_t> changes_ = 0;
  std::atomic<int> runsOn_[kWorkers] = {-1, -1};  // where each last waited
  std::thread second_;
};

}  // namespace quarvend
