#include "cli/decode_input.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quarvend {
namespace {

// Feeds `reader` block[0..size) on this thread, the text straight into `output`.
void feedHere(EncodedReader& reader, const unsigned char* block, std::size_t size,
              DosTextWriter& output) {
  output.commit(reader.feed(block, size, output.reserve(EncodedReader::maxOutput(size))));
}

// Reads and decodes the rest of the input, after what `reader` has had.
InputEnd decodeRestOnOneThread(ByteSource& source, EncodedReader& reader,
                               DosTextWriter& output, unsigned char* block,
                               std::size_t blockSize, std::string& reason) {
  for (;;) {
    if (reader.ended()) return InputEnd::kDecoded;
    if (output.deliversNothing()) return InputEnd::kDecoded;
    std::size_t got = 0;
    if (!source.read(block, blockSize, got, reason)) return InputEnd::kReadFailed;
    if (got == 0) {
      output.commit(reader.finish(output.reserve(kMaxFormSize)));
      return InputEnd::kDecoded;
    }
    feedHere(reader, block, got, output);
  }
}

// White space a block may start at: never a carriage return, which could
// stand inside a code.
bool startsBlock(unsigned char byte) { return isSpace(byte) && byte != kCarriageReturn; }

// How far past its block size a block may run to reach white space, and how
// far into its block size it may start.
std::size_t searchWindow(std::size_t blockSize) {
  return std::min(blockSize, DecodeBuffers::kCarry);
}

// The first place in block[from..limit) where a block may start, or `limit`.
std::size_t blockStart(const unsigned char* block, std::size_t from, std::size_t limit) {
  while (from < limit && !startsBlock(block[from])) ++from;
  return from;
}

// One block of the input on its way through the threads, n block sizes after
// the first block's split.
struct Block {
  std::size_t number = 0;  // which block the slot holds, plus one; 0 while none
  bool readFailed = false;
  bool last = false;     // the input ends inside it
  bool noStart = false;  // no white space to start at: it goes on from the one before
  std::size_t start = 0;
  std::size_t end = 0;
  EncodedReader reader;  // how the worker's reader left it
  std::size_t textSize = 0;
  std::string reason;
};

// Threads that read blocks by number, each into the slot the number picks
// once that slot's last block is written out, and decode them; the thread
// that writes the text out takes blocks too while it waits.
class Workers {
 public:
  Workers(ByteSource& source, std::uint64_t base, DecodeBuffers& buffers,
          std::vector<Block>& blocks, std::size_t blockSize, ScanFunction scan)
      : source_(source),
        base_(base),
        buffers_(buffers),
        blocks_(blocks),
        blockSize_(blockSize),
        scan_(scan) {}

  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Starts up to `count` threads; false when not even one could be had.
  bool start(unsigned count) {
    try {
      while (threads_.size() < count) threads_.emplace_back([this] { run(); });
    } catch (...) {
    }
    return !threads_.empty();
  }

  // Returns block `number` once it is decoded. While it is not, and a slot is
  // free, this thread decodes the next block itself rather than wait.
  const Block& take(std::size_t number) {
    Block& wanted = blocks_[number % blocks_.size()];
    for (;;) {
      std::size_t other;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return wanted.number == number + 1 || slotFree(); });
        if (wanted.number == number + 1) return wanted;
        other = next_++;
      }
      decodeAndPublish(other);
    }
  }

  // Block `number` is written out: its slot may take the next one.
  void release(std::size_t number) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = number + 1;
    }
    changed_.notify_all();
  }

 private:
  // Whether the next block to take has a slot: its slot's last block is
  // written out. Called with the mutex held.
  bool slotFree() const { return next_ < released_ + blocks_.size(); }

  void run() {
    for (;;) {
      std::size_t number;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || slotFree(); });
        if (stopping_) return;
        number = next_++;
      }
      decodeAndPublish(number);
    }
  }

  void decodeAndPublish(std::size_t number) {
    Block& block = blocks_[number % blocks_.size()];
    decode(number, block, buffers_.slots[number % blocks_.size()]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      block.number = number + 1;
    }
    changed_.notify_all();
  }

  void decode(std::size_t number, Block& block, DecodeBuffers::Slot& slot) {
    const std::size_t window = searchWindow(blockSize_);
    std::size_t got = 0;
    block.readFailed = !source_.readAt(base_ + number * blockSize_, slot.input,
                                       blockSize_ + window, got, block.reason);
    if (block.readFailed) return;
    block.start = number == 0 ? 0 : blockStart(slot.input, 0, std::min(got, window));
    block.noStart = block.start == std::min(got, window);
    block.end = blockStart(slot.input, std::min(got, blockSize_), got);
    block.last = block.end == got && got < blockSize_ + window;
    if (block.noStart) return;
    block.reader = EncodedReader::inNumberList(scan_);
    block.textSize = block.reader.feed(slot.input + block.start, block.end - block.start,
                                       slot.text + DecodeBuffers::kTextRoom);
  }

  ByteSource& source_;
  const std::uint64_t base_;
  DecodeBuffers& buffers_;
  std::vector<Block>& blocks_;
  const std::size_t blockSize_;
  const ScanFunction scan_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;      // the next block a worker takes
  std::size_t released_ = 0;  // blocks written out
  bool stopping_ = false;
};

// The input after the first block's split, on worker threads; the text is
// taken in order here.
InputEnd decodeInParallel(Workers& workers, EncodedReader& reader, DosTextWriter& output,
                          DecodeBuffers& buffers, std::size_t slots,
                          std::size_t blockSize, std::string& reason) {
  for (std::size_t number = 0;; ++number) {
    const Block& block = workers.take(number);
    if (block.readFailed) {
      reason.assign(block.reason);
      return InputEnd::kReadFailed;
    }
    DecodeBuffers::Slot& slot = buffers.slots[number % slots];
    if (block.noStart) {
      // The block before ran to the end of its read, a window into this one.
      const std::size_t from = std::min(block.end, searchWindow(blockSize));
      feedHere(reader, slot.input + from, block.end - from, output);
    } else {
      // The block starts at white space: after it the reader stands between
      // codes, as the worker's did, unless the list ended right there.
      feedHere(reader, slot.input + block.start, 1, output);
      if (!reader.ended()) {
        output.putOnDisk(slot.text + DecodeBuffers::kTextRoom, block.textSize,
                         DecodeBuffers::kTextRoom);
        reader = block.reader;
      }
    }
    // Once released, the slot may take the next block at any moment.
    const bool last = block.last;
    workers.release(number);
    if (reader.ended()) return InputEnd::kDecoded;
    if (output.deliversNothing()) return InputEnd::kDecoded;
    if (last) {
      output.commit(reader.finish(output.reserve(kMaxFormSize)));
      return InputEnd::kDecoded;
    }
  }
}

}  // namespace

InputEnd decodeInput(ByteSource& source, std::size_t firstSize, EncodedReader& reader,
                     DosTextWriter& output, DecodeBuffers& buffers,
                     const DecodeSettings& settings, std::string& reason) {
  unsigned char* const first = buffers.first;
  // The first block holds the lead-in and is always decoded here. On several
  // threads it is decoded up to its last white space, where the next block
  // starts.
  std::size_t split = firstSize;
  if (settings.threads > 1 && settings.splittable) {
    while (split > 0 && !startsBlock(first[split - 1])) --split;
    split = split > 0 ? split - 1 : firstSize;
  }
  feedHere(reader, first, split, output);

  std::vector<Block> blocks;
  std::unique_ptr<Workers> workers;
  if (split < firstSize && reader.pastMarker() && !reader.ended()) {
    try {
      blocks.resize(std::min<std::size_t>(settings.threads + 2, DecodeBuffers::kSlots));
      for (Block& block : blocks) block.reason.reserve(kReasonCapacity);
      workers = std::make_unique<Workers>(source, split, buffers, blocks,
                                          settings.blockSize, reader.scan());
    } catch (...) {
      workers.reset();
    }
    if (workers && workers->start(settings.threads - 1)) {
      return decodeInParallel(*workers, reader, output, buffers, blocks.size(),
                              settings.blockSize, reason);
    }
  }
  // One thread, for the rest of the first block and all after it: without
  // the memory or a thread for more, or while the start marker is to come.
  workers.reset();
  feedHere(reader, first + split, firstSize - split, output);
  return decodeRestOnOneThread(source, reader, output, first, settings.blockSize, reason);
}

}  // namespace quarvend
