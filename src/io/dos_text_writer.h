// The tool's one output: a buffer of text in DOS form, flushed in order to
// every sink that is still open.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "format/dos_text.h"
#include "platform/platform.h"

namespace quarvend {

// Where the output's bytes go: a file, standard output, or memory in tests.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of data[0..size), or returns false with the system's reason.
  virtual bool write(const unsigned char* data, std::size_t size,
                     std::string& reason) = 0;
  virtual bool close(std::string& reason) = 0;
};

// A sink on a file descriptor, closed by close().
class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool write(const unsigned char* data, std::size_t size, std::string& reason) override;
  bool close(std::string& reason) override;

 private:
  int fd_;
};

// Writes text as a DOS text file: every line feed goes out as carriage return
// and line feed (onDiskForm), every other byte unchanged. Text is produced
// once, into one buffer, and each flush hands the buffer to the sinks, the
// newest first. A sink's first failure is its last: nothing more is written to
// it, so it always holds an exact prefix of the text, and the failure's reason
// is kept for the caller.
class DosTextWriter {
 public:
  static constexpr std::size_t kMaxSinks = 2;

  // Whether the writer takes the room for its sinks' reasons up front.
  enum class Reasons { kReserved, kUnreserved };

  // Buffers in buffer[0..capacity), which must outlive the writer; capacity
  // is at least kMaxFormSize. Takes all the memory it needs now, so that
  // nothing allocates later; kUnreserved takes none (for telling that memory
  // is lacking), and a failing sink then allocates to keep its reason.
  DosTextWriter(unsigned char* buffer, std::size_t capacity,
                Reasons reasons = Reasons::kReserved);

  // Adds `sink`, flushed before the sinks added earlier, and returns its
  // number. It receives every byte written from now on, until it is closed.
  std::size_t addSink(ByteSink& sink);

  // Writes one byte by the rule above.
  void put(unsigned char byte) {
    if (capacity_ - used_ < kMaxFormSize) flush();
    const OnDiskForm form = onDiskForm(byte);
    buffer_[used_] = form.bytes[0];
    buffer_[used_ + 1] = form.bytes[1];
    used_ += form.size;
  }

  // Writes every byte of `text` through put.
  void write(std::string_view text) {
    for (char byte : text) put(static_cast<unsigned char>(byte));
  }

  // For text that is already in on-disk form: returns room for `size` bytes
  // (size <= capacity), flushing first when less is free. commit(count) then
  // adds the first `count` of them to the output.
  unsigned char* reserve(std::size_t size) {
    if (capacity_ - used_ < size) flush();
    return buffer_ + used_;
  }
  void commit(std::size_t count) { used_ += count; }

  // Adds text already in on-disk form. All but small pieces go to the sinks
  // straight from `text`, without a copy.
  void putOnDisk(const unsigned char* text, std::size_t size);

  // Hands the buffered bytes to every open sink that has not failed.
  void flush();

  // Flushes, then closes sink `number`: nothing more is written to it. Returns
  // false when any byte failed to reach it or its close failed.
  bool close(std::size_t number);

  // True when no sink can take more text: each is closed or has failed.
  bool deliversNothing() const {
    for (std::size_t i = 0; i < sinkCount_; ++i) {
      if (sinks_[i].open && !sinks_[i].failed) return false;
    }
    return true;
  }
  // The system's reason for sink `number`'s first failure.
  const std::string& reason(std::size_t number) const { return sinks_[number].reason; }

  // Counts sink `number` as failed before any write (for a stream that was
  // unusable when the run began).
  void markFailed(std::size_t number) { sinks_[number].failed = true; }

 private:
  struct Sink {
    ByteSink* sink = nullptr;
    bool open = false;
    bool failed = false;
    std::string reason;
  };

  // Hands data[0..size) to every open sink that has not failed, newest first.
  void handOver(const unsigned char* data, std::size_t size);

  unsigned char* buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  std::array<Sink, kMaxSinks> sinks_{};
  std::size_t sinkCount_ = 0;
  std::string laterReason_;  // a failed sink's close, after its first failure
};

}  // namespace quarvend
