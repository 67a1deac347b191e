// Reading a source's blocks ahead, on a thread of its own, while the caller
// works on the block before: the blocks come in order, each read once, and a
// failed read comes where it happened, after every block read before it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "encode/text_encoder.h"
#include "io/byte_source.h"

namespace quarvend {

// Whether the input on `fd` is read ahead: when it is a regular file, whose
// reads end soon whatever happens, so that the reader can always be waited
// for, and the process may run on more than one processor.
bool readsAhead(int fd);

// The blocks on their way from the reader to the caller.
struct ReadAheadBuffers {
  static constexpr std::size_t kBlockSize = std::size_t{64} << 10;
  static constexpr std::size_t kSlots = 4;
  struct Slot {
    unsigned char bytes[kBlockSize];
    std::size_t size = 0;
    bool failed = false;  // the read failed, with `reason`; no block follows
    std::string reason;
    LineFeeds lines;    // counted by the reader, off the caller's thread
    bool full = false;  // read, not yet taken back by the caller; under the lock
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

  // The next block, in block[0..size), valid until the next call; size 0 at
  // the end; and its line feeds when the reader counted them, else null.
  // False, with the system's reason, when its read failed. Not called again
  // after the end or a failure.
  bool next(const unsigned char*& block, std::size_t& size, const LineFeeds*& lines,
            std::string& reason);

 private:
  void run();

  ByteSource& source_;
  ReadAheadBuffers::Slot* const slots_;
  std::size_t taken_ = 0;  // blocks the caller has had
  std::size_t read_ = 0;   // blocks the reader has read; its own
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;  // under the lock
  std::thread reader_;
};

}  // namespace quarvend
