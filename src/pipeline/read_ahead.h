// Reading a source's blocks ahead, on a second thread, while the caller
// works on the block before: the blocks come in order, each read once, and a
// failed read comes where it happened, after every block read before it. The
// caller reads too whenever no read is under way and it has nothing else to
// do, so that it never waits for the second thread to start.
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

class ReadAhead {
 public:
  // Reads `source` from where it stands, on the caller's thread as it asks,
  // and ahead on a second thread when `threaded` and one can be had.
  ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded);
  // Stops the second thread after the read under way, and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, in block[0..size), at most kPieceSize bytes, valid until
  // the next call; size 0 at the end; and its line feeds.
  // False, with the system's reason, when its read failed. Not called again
  // after the end or a failure.
  bool next(const unsigned char*& block, std::size_t& size, const LineFeeds*& lines,
            std::string& reason);

 private:
  enum Thread : std::size_t { kCaller, kReader, kThreads };

  void run();
  // Whether a read may start: none is under way, the source has not ended,
  // and a slot is free.
  bool canRead() const;
  // Makes the next read, with the lock held on entry and on return.
  void read(std::unique_lock<std::mutex>& lock);
  // Waits, with the lock held on entry and on return, until another change.
  void awaitChange(Thread self, std::unique_lock<std::mutex>& lock);
  // Marks a change, under the lock, for a thread that waits for one.
  void changed();

  ByteSource& source_;
  ReadAheadBuffers::Slot* const slots_;
  std::size_t slotCount_;                    // one when the caller reads alone
  ReadAheadBuffers::Slot* taken_ = nullptr;  // the read the caller has now
  std::size_t handed_ = 0;                   // bytes of it handed out

  // Under the lock:
  std::uint64_t reads_ = 0;     // reads made
  std::uint64_t released_ = 0;  // reads the caller is done with
  bool reading_ = false;        // a read is under way
  bool ended_ = false;          // the last read met the end, or failed
  bool stopping_ = false;       // the second thread is to stop

  std::mutex mutex_;
  std::condition_variable changed_;
  // Counts changes: set under the lock, and read without it by a thread that
  // spins before it sleeps.
  std::atomic<std::uint64_t> changes_ = 0;
  std::atomic<int> runsOn_[kThreads] = {-1, -1};  // where each last waited
  std::thread reader_;
};

}  // namespace quarvend
