// Reading a source's blocks ahead, on a thread of its own, while the caller
// works on the block before: the blocks come in order, each read once, and a
// failed read comes where it happened, after every block read before it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
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
    LineFeeds lines[kPieces];  // of each piece, counted off the caller's thread
    // Read, not yet taken back by the caller: set under the lock, and read
    // without it by a thread that spins before it sleeps.
    std::atomic<bool> full = false;
  };
  Slot slots[kSlots];
};

class ReadAhead {
 public:
  // Reads `source` from where it stands, ahead on a thread when `threaded`
  // and one can be had, else on the caller's thread as it asks.
  ReadAhead(ByteSource& source, ReadAheadBuffers& buffers, bool threaded);
  // Stops the reader after the read under way, and waits for it.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, in block[0..size), at most kPieceSize bytes, valid until
  // the next call; size 0 at the end; and its line feeds when the reader
  // counted them, else null.
  // False, with the system's reason, when its read failed. Not called again
  // after the end or a failure.
  bool next(const unsigned char*& block, std::size_t& size, const LineFeeds*& lines,
            std::string& reason);

 private:
  void run();
  // Returns once `ready()` holds, which the other thread makes true; `mine`
  // and `theirs` are where each thread says which processor it runs on.
  template <typename Ready>
  void await(Ready ready, std::atomic<int>& mine, const std::atomic<int>& theirs);
  // Sets `flag` to `value` for the other thread, which may be waiting.
  void tell(std::atomic<bool>& flag, bool value);

  ByteSource& source_;
  ReadAheadBuffers::Slot* const slots_;
  std::size_t reads_ = 0;                    // reads the caller has had
  ReadAheadBuffers::Slot* taken_ = nullptr;  // the last of them
  std::size_t handed_ = 0;                   // bytes of it handed out
  std::size_t read_ = 0;                     // reads the reader has made; its own
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stopping_ = false;  // set under the lock
  std::atomic<int> callerOn_ = -1;      // the processor each last waited on
  std::atomic<int> readerOn_ = -1;
  std::thread reader_;
};

}  // namespace quarvend
