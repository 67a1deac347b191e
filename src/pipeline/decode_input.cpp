#include "pipeline/decode_input.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quarvend {
namespace {

// Below this size an input is decoded on one thread: starting threads would
// cost more than they save.
constexpr std::uint64_t kThreadsFrom = std::uint64_t{4} << 20;

// The one choice of threads for the input after its first block, whose part
// up to firstBlockEnd `reader` has had. Several need a regular file large
// enough to pay for them, whose blocks can be read at their offsets in any
// order, and a first block that has brought the number list and a separator
// to cut at; then there is one per processor, up to kMaxThreads.
unsigned decodingThreads(const InputFacts& input, const EncodedReader& reader) {
  if (!input.regularFile || input.size < kThreadsFrom) return 1;
  if (!reader.pastMarker() || reader.ended()) return 1;
  return std::min(input.processors, kMaxThreads);
}

// Feeds `reader` block[0..size) on this thread, the text straight into `output`.
void decodeToOutput(EncodedReader& reader, const unsigned char* block, std::size_t size,
                    DosTextWriter& output) {
  output.commit(reader.feed(block, size, output.reserve(EncodedReader::maxOutput(size))));
}

// Tells `reader` that the input ended, on this thread, into `output`.
void finishToOutput(EncodedReader& reader, DosTextWriter& output) {
  output.commit(reader.finish(output.reserve(kMaxFormSize)));
}

// Reads and decodes the rest of the input, after what `reader` has had.
InputEnd decodeRestOnOneThread(ByteSource& source, EncodedReader& reader,
                               DosTextWriter& output, unsigned char* block,
                               std::size_t blockSize, std::string& reason) {
  for (;;) {
    if (reader.ended() || output.deliversNothing()) return InputEnd::kReadsSucceeded;
    std::size_t got = 0;
    if (!source.read(block, blockSize, got, reason)) return InputEnd::kReadFailed;
    if (got == 0) {
      finishToOutput(reader, output);
      return InputEnd::kReadsSucceeded;
    }
    decodeToOutput(reader, block, got, output);
  }
}

// Threads that read blocks by number, each into the slot the number picks
// once that slot's last block is written out, and decode them; the thread
// that writes the text out takes blocks too while it waits.
class Workers {
 public:
  using Slot = DecodeBuffers::Slot;

  Workers(ByteSource& source, std::uint64_t base, DecodeBuffers& buffers,
          std::size_t slots, std::size_t blockSize, ScanFunction scan)
      : source_(source),
        base_(base),
        slots_(buffers.slots),
        slotCount_(slots),
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
      for (std::size_t i = 0; i < slotCount_; ++i)
        slots_[i].reason.reserve(platform::kReasonCapacity);
      threads_.reserve(count);
      while (threads_.size() < count) threads_.emplace_back([this] { run(); });
    } catch (...) {
    }
    return !threads_.empty();
  }

  // Returns the slot of block `number` once the block is decoded. While it is
  // not, and a slot is free, this thread decodes the next block itself rather
  // than wait.
  Slot& take(std::size_t number) {
    Slot& wanted = slotOf(number);
    for (;;) {
      std::size_t other;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return readyOf(number) || slotFree(); });
        if (readyOf(number)) return wanted;
        other = next_++;
      }
      decodeAndPublish(other);
    }
  }

  // Block `number` is written out: its slot may take the next one.
  void release(std::size_t number) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      readyOf(number) = false;
      released_ = number + 1;
    }
    changed_.notify_all();
  }

 private:
  Slot& slotOf(std::size_t number) { return slots_[number % slotCount_]; }
  // Whether block `number`'s slot holds it decoded. Under the mutex.
  bool& readyOf(std::size_t number) { return ready_[number % slotCount_]; }

  // Whether the next block to take has a slot: its slot's last block is
  // written out. Called with the mutex held.
  bool slotFree() const { return next_ < released_ + slotCount_; }

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
    Slot& slot = slotOf(number);
    decode(number, slot);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      readyOf(number) = true;
    }
    changed_.notify_all();
  }

  void decode(std::size_t number, Slot& slot) {
    std::size_t got = 0;
    const bool read =
        source_.readAt(base_ + number * blockSize_, slot.input,
                       blockSize_ + searchWindow(blockSize_), got, slot.reason);
    slot.span = blockSpan(slot.input, got, number, blockSize_);
    // A failure past the block's end is met again by the next block's read.
    slot.readFailed = !read && slot.span.last;
    if (!slot.span.betweenCodes) return;
    slot.reader = EncodedReader::inNumberList(scan_);
    slot.textSize = slot.reader.feed(slot.input + slot.span.start,
                                     slot.span.end - slot.span.start, slot.text);
  }

  ByteSource& source_;
  const std::uint64_t base_;
  Slot* const slots_;
  const std::size_t slotCount_;
  const std::size_t blockSize_;
  const ScanFunction scan_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // For each slot: its block is decoded, not yet written out.
  bool ready_[DecodeBuffers::kSlots] = {};
  std::size_t next_ = 0;      // the next block a worker takes
  std::size_t released_ = 0;  // blocks written out
  bool stopping_ = false;
};

// The input after the first block, decoded on the workers and taken here in
// order. A block that starts between codes brings its text and its reader's
// state; one that goes on with an open code is decoded here.
InputEnd decodeOnThreads(Workers& workers, EncodedReader& reader, DosTextWriter& output,
                         std::string& reason) {
  for (std::size_t number = 0;; ++number) {
    Workers::Slot& slot = workers.take(number);
    if (slot.span.betweenCodes) {
      output.putOnDisk(slot.text, slot.textSize);
      reader = slot.reader;
    } else {
      decodeToOutput(reader, slot.input + slot.span.start,
                     slot.span.end - slot.span.start, output);
    }
    const bool last = slot.span.last;
    const bool readFailed = slot.readFailed;
    if (readFailed) reason.assign(slot.reason);
    // Once released, the slot may take the next block at any moment.
    workers.release(number);
    if (reader.ended() || output.deliversNothing()) return InputEnd::kReadsSucceeded;
    if (readFailed) return InputEnd::kReadFailed;
    if (last) {
      finishToOutput(reader, output);
      return InputEnd::kReadsSucceeded;
    }
  }
}

}  // namespace

std::size_t searchWindow(std::size_t blockSize) {
  return std::min(blockSize, kMaxWindow);
}

BlockSpan blockSpan(const unsigned char* bytes, std::size_t got, std::size_t number,
                    std::size_t blockSize) {
  const std::size_t window = searchWindow(blockSize);
  BlockSpan span;
  span.betweenCodes = number == 0;
  if (number > 0) {
    const std::size_t head = std::min(got, window);
    const std::size_t at = std::find_if(bytes, bytes + head, isSeparator) - bytes;
    span.betweenCodes = at < head;
    span.start = span.betweenCodes ? at + 1 : head;
  }
  const std::size_t tail = std::min(got, blockSize);
  const std::size_t at = std::find_if(bytes + tail, bytes + got, isSeparator) - bytes;
  span.end = at < got ? at + 1 : got;
  span.last = got < blockSize + window && span.end == got;
  return span;
}

std::size_t firstBlockEnd(const unsigned char* bytes, std::size_t size) {
  while (size > 0 && !isSeparator(bytes[size - 1])) --size;
  return size;
}

InputEnd decodeInput(ByteSource& source, std::size_t firstSize, EncodedReader& reader,
                     DosTextWriter& output, DecodeBuffers& buffers,
                     const DecodeSettings& settings, std::string& reason) {
  // The first block holds the lead-in and is always decoded here.
  unsigned char* const first = buffers.first;
  const std::size_t split = firstBlockEnd(first, firstSize);
  decodeToOutput(reader, first, split, output);
  const unsigned threads = decodingThreads(settings.input, reader);
  if (threads > 1) {
    Workers workers(source, split, buffers, threads + 2, settings.blockSize,
                    reader.scan());
    if (workers.start(threads - 1))
      return decodeOnThreads(workers, reader, output, reason);
  }
  // One thread, for the rest of the first block and all after it.
  decodeToOutput(reader, first + split, firstSize - split, output);
  return decodeRestOnOneThread(source, reader, output, first, settings.blockSize, reason);
}

}  // namespace quarvend
