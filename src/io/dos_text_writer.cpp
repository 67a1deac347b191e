#include "io/dos_text_writer.h"

#include <cstring>

#include "platform/platform.h"

namespace quarvend {

bool FileSink::write(const unsigned char* data, std::size_t size, std::string& reason) {
  return platform::writeAll(fd_, data, size, reason);
}

bool FileSink::close(std::string& reason) { return platform::closeFile(fd_, reason); }

DosTextWriter::DosTextWriter(unsigned char* buffer, std::size_t capacity, Reasons reasons)
    : buffer_(buffer), capacity_(capacity) {
  if (reasons == Reasons::kUnreserved) return;
  for (Sink& sink : sinks_) sink.reason.reserve(platform::kReasonCapacity);
  laterReason_.reserve(platform::kReasonCapacity);
}

std::size_t DosTextWriter::addSink(ByteSink& sink) {
  flush();
  sinks_[sinkCount_].sink = &sink;
  sinks_[sinkCount_].open = true;
  return sinkCount_++;
}

void DosTextWriter::handOver(const unsigned char* data, std::size_t size) {
  for (std::size_t i = sinkCount_; i > 0 && size > 0; --i) {
    Sink& sink = sinks_[i - 1];
    if (sink.open && !sink.failed && !sink.sink->write(data, size, sink.reason)) {
      sink.failed = true;
    }
  }
}

void DosTextWriter::flush() {
  handOver(buffer_, used_);
  used_ = 0;
}

void DosTextWriter::putOnDisk(const unsigned char* text, std::size_t size) {
  // Copying pays only for pieces small next to the buffer: a larger one costs
  // more to copy than the write call it saves.
  if (size <= capacity_ / 16 && capacity_ - used_ >= size) {
    std::memcpy(buffer_ + used_, text, size);
    used_ += size;
    return;
  }
  flush();
  handOver(text, size);
}

bool DosTextWriter::close(std::size_t number) {
  flush();
  Sink& sink = sinks_[number];
  if (!sink.open) return !sink.failed;
  sink.open = false;
  if (!sink.sink->close(sink.failed ? laterReason_ : sink.reason)) sink.failed = true;
  return !sink.failed;
}

}  // namespace quarvend
