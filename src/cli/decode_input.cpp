#include "cli/decode_input.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace quarvend {

bool FileSource::read(unsigned char* buffer, std::size_t size, std::size_t& got,
                      std::string& reason) {
  return platform::readSome(fd_, buffer, size, got, reason);
}

namespace {

// Feeds `reader` block[0..size) on this thread, the text straight into `output`.
void feedHere(EncodedReader& reader, const unsigned char* block, std::size_t size,
              DosTextWriter& output) {
  output.commit(reader.feed(block, size, output.reserve(EncodedReader::maxOutput(size))));
}

InputEnd decodeOnOneThread(ByteSource& source, std::size_t got, EncodedReader& reader,
                           DosTextWriter& output, unsigned char* block,
                           std::size_t blockSize, std::string& reason) {
  for (;;) {
    if (got == 0) {
      output.commit(reader.finish(output.reserve(kMaxFormSize)));
      return InputEnd::kDecoded;
    }
    feedHere(reader, block, got, output);
    if (reader.ended()) return InputEnd::kDecoded;
    if (output.deliversNothing()) return InputEnd::kNothingDelivered;
    if (!source.read(block, blockSize, got, reason)) return InputEnd::kReadFailed;
  }
}

// Where a block may end so that the next one starts at white space: at the
// last white space in its final kCarry bytes, never at a carriage return,
// which could stand inside a code. Returns `size` when there is none.
std::size_t splitPoint(const unsigned char* block, std::size_t size) {
  const std::size_t floor =
      size > DecodeBuffers::kCarry ? size - DecodeBuffers::kCarry : 1;
  for (std::size_t at = size; at > floor; --at) {
    const unsigned char byte = block[at - 1];
    if (EncodedReader::isSpace(byte) && byte != DosTextReader::kCarriageReturn)
      return at - 1;
  }
  return size;
}

// One block of the input on its way through the threads.
struct Block {
  std::size_t size = 0;
  bool speculative = false;  // decoded by a worker from a start between codes
  bool last = false;         // the input ends after it
  bool readFailed = false;   // the read after it failed
  bool decoded = false;      // a worker has finished it
  EncodedReader reader;      // the worker's reader, as the block left it
  std::size_t textSize = 0;
};

// Worker threads that decode speculative blocks into their slots' text.
class Workers {
 public:
  Workers(DecodeBuffers& buffers, std::vector<Block>& blocks, ScanFunction scan)
      : buffers_(buffers), blocks_(blocks), scan_(scan) {}

  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
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

  void submit(std::size_t slot) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_[queueEnd_++ % DecodeBuffers::kSlots] = slot;
    }
    work_.notify_one();
  }

  void waitFor(std::size_t slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return blocks_[slot].decoded; });
  }

 private:
  void run() {
    for (;;) {
      std::size_t slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_.wait(lock, [&] { return stopping_ || queueStart_ != queueEnd_; });
        if (stopping_) return;
        slot = queue_[queueStart_++ % DecodeBuffers::kSlots];
      }
      Block& block = blocks_[slot];
      DecodeBuffers::Slot& buffer = buffers_.slots[slot];
      EncodedReader reader = EncodedReader::inNumberList(scan_);
      const std::size_t textSize = reader.feed(buffer.input, block.size, buffer.text);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        block.reader = reader;
        block.textSize = textSize;
        block.decoded = true;
      }
      done_.notify_all();
    }
  }

  DecodeBuffers& buffers_;
  std::vector<Block>& blocks_;
  ScanFunction scan_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::size_t queue_[DecodeBuffers::kSlots] = {};
  std::size_t queueStart_ = 0;
  std::size_t queueEnd_ = 0;
  bool stopping_ = false;
};

}  // namespace

InputEnd decodeInput(ByteSource& source, std::size_t firstSize, EncodedReader& reader,
                     DosTextWriter& output, DecodeBuffers& buffers,
                     const DecodeSettings& settings, std::string& reason) {
  // The first block holds the lead-in; it is always decoded here.
  const bool parallel = settings.threads > 1 && settings.splittable && firstSize > 0;
  if (!parallel) {
    return decodeOnOneThread(source, firstSize, reader, output, buffers.first,
                             settings.blockSize, reason);
  }
  feedHere(reader, buffers.first, firstSize, output);
  if (reader.ended()) return InputEnd::kDecoded;
  if (output.deliversNothing()) return InputEnd::kNothingDelivered;

  std::vector<Block> blocks;  // made before any thread starts, and not resized
  std::unique_ptr<Workers> workers;
  try {
    blocks.resize(DecodeBuffers::kSlots);
    workers = std::make_unique<Workers>(buffers, blocks, reader.scan());
  } catch (...) {
  }
  // Without the memory or a thread to decode the rest in parallel, or when
  // the start marker is still to come, the rest is decoded on this thread.
  if (!workers || !reader.pastMarker() || !workers->start(settings.threads)) {
    workers.reset();
    std::size_t got = 0;
    if (!source.read(buffers.first, settings.blockSize, got, reason)) {
      return InputEnd::kReadFailed;
    }
    return decodeOnOneThread(source, got, reader, output, buffers.first,
                             settings.blockSize, reason);
  }

  // Blocks are read in turn into the slots, the rest of each one after its
  // split carried to the front of the next, and handed to the workers; their
  // text is then taken in order. The block after the first, and any block
  // whose start is not known to be white space, is decoded here instead.
  unsigned char carried[DecodeBuffers::kCarry];
  std::size_t carry = 0;
  bool nextSpeculative = false;
  bool reading = true;
  std::size_t filled = 0;     // blocks read so far
  std::size_t committed = 0;  // blocks whose text is written
  const auto fill = [&] {
    const std::size_t slot = filled % DecodeBuffers::kSlots;
    Block& block = blocks[slot];
    unsigned char* const input = buffers.slots[slot].input;
    block = Block{};
    block.speculative = nextSpeculative;
    std::memcpy(input, carried, carry);
    std::size_t got = 0;
    if (!source.read(input + carry, settings.blockSize, got, reason)) {
      block.readFailed = true;
    } else if (got == 0) {
      block.last = true;
    }
    std::size_t size = carry + got;
    carry = 0;
    nextSpeculative = false;
    if (got > 0) {
      const std::size_t split = splitPoint(input, size);
      if (split < size) {
        carry = size - split;
        std::memcpy(carried, input + split, carry);
        size = split;
        nextSpeculative = true;
      }
    }
    block.size = size;
    reading = got > 0;
    if (block.speculative) workers->submit(slot);
    ++filled;
  };

  for (;;) {
    while (reading && filled - committed < DecodeBuffers::kSlots) fill();
    if (committed == filled) return InputEnd::kDecoded;
    const std::size_t slot = committed % DecodeBuffers::kSlots;
    Block& block = blocks[slot];
    const unsigned char* const input = buffers.slots[slot].input;
    if (!block.speculative) {
      feedHere(reader, input, block.size, output);
    } else {
      workers->waitFor(slot);
      // The block starts at white space: after it the reader stands between
      // codes, as the worker assumed, unless the list ended right there.
      feedHere(reader, input, 1, output);
      if (!reader.ended()) {
        output.putOnDisk(buffers.slots[slot].text, block.textSize);
        reader = block.reader;
      }
    }
    ++committed;
    if (reader.ended()) return InputEnd::kDecoded;
    if (output.deliversNothing()) return InputEnd::kNothingDelivered;
    if (block.readFailed) return InputEnd::kReadFailed;
    if (block.last) {
      output.commit(reader.finish(output.reserve(kMaxFormSize)));
      return InputEnd::kDecoded;
    }
  }
}

}  // namespace quarvend
