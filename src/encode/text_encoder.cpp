#include "encode/text_encoder.h"

#include <cstring>

#include "format/ostrevic.h"

namespace quarvend {
namespace {

// The start marker's line counts as full, so that the first code starts a
// line of its own.
constexpr std::uint8_t kMarkerLineWidth = TextEncoder::kLineWidth;

}  // namespace

std::size_t TextEncoder::startFile(unsigned char* out) {
  started_ = true;
  lineWidth_ = kMarkerLineWidth;
  out[0] = kMarkerFirst;
  out[1] = kMarkerSecond;
  return 2;
}

void TextEncoder::passOver(const LineFeeds& lines) {
  if (lines.count == 0) {
    lineBytes_ += lines.after;
    return;
  }
  line_ += lines.count;
  lineBytes_ = lines.after;
}

void TextEncoder::stopAtUncoded(unsigned char byte) {
  stage_ = Stage::kNoCode;
  uncoded_ = byte;
  // A carriage return left waiting is the last byte passed over; any other
  // byte is the next one.
  uncodedAt_ = {line_, pendingReturn_ ? lineBytes_ : lineBytes_ + 1};
  pendingReturn_ = false;
}

std::size_t TextEncoder::feed(const unsigned char* block, std::size_t size,
                              unsigned char* out, const LineFeeds* lines) {
  if (stage_ != Stage::kText) return 0;
  unsigned char* const begin = out;
  if (!started_) out += startFile(out);
  if (size == 0) return static_cast<std::size_t>(out - begin);
  if (pendingReturn_) {
    if (block[0] != kLineFeed) {
      stopAtUncoded(kLineEndFirst);
      return static_cast<std::size_t>(out - begin);
    }
    pendingReturn_ = false;
  }
  const unsigned char* const limit = block + size;
  std::size_t width = lineWidth_;
  const unsigned char* const at = encode_(block, limit, out, width);
  lineWidth_ = static_cast<std::uint8_t>(width);
  const bool whole = at == limit || (*at == kLineEndFirst && at + 1 == limit);
  if (whole) {
    passOver(lines ? *lines : countLineFeeds_(block, size));
    pendingReturn_ = at != limit;
  } else {
    passOver(countLineFeeds_(block, static_cast<std::size_t>(at - block)));
    if (endsInput(*at)) {
      stage_ = Stage::kMarkEnded;
    } else {
      stopAtUncoded(*at);
    }
  }
  return static_cast<std::size_t>(out - begin);
}

std::size_t TextEncoder::finish(unsigned char* out) {
  if (stage_ != Stage::kText && stage_ != Stage::kMarkEnded) return 0;
  if (pendingReturn_) {
    stopAtUncoded(kLineEndFirst);
    return 0;
  }
  std::size_t size = started_ ? 0 : startFile(out);
  std::memcpy(out + size, kLineEnd.bytes, kLineEnd.size);
  stage_ = Stage::kComplete;
  return size + kLineEnd.size;
}

}  // namespace quarvend
