#include "decode/encoded_reader.h"

#include <algorithm>
#include <limits>

namespace quarvend {
namespace {

// Magnitudes stop growing here: one past the largest positive 32-bit value is
// enough to tell every out-of-range code apart from an in-range one, and lets
// the most negative 32-bit value come out exactly.
constexpr std::uint64_t kMagnitudeCap =
    std::uint64_t{std::numeric_limits<std::int32_t>::max()} + 1;

}  // namespace

bool EncodedReader::findStartMarker() {
  int byte;
  do {
    byte = next();
  } while (byte != DosTextReader::kEnd && byte != kMarkerFirst);
  return byte != DosTextReader::kEnd && next() == kMarkerSecond;
}

bool EncodedReader::nextCode(std::int32_t& code) {
  int byte = next();
  while (isSpace(byte)) byte = text_.get();

  const bool negative = byte == '-';
  if (negative || byte == '+') byte = text_.get();
  if (!isDigit(byte)) {
    lookahead_ = byte;
    return false;
  }

  std::uint64_t magnitude = 0;
  do {
    // Cannot overflow: magnitude is at most the cap, far below 2^64 / 10.
    magnitude =
        std::min(magnitude * 10 + static_cast<unsigned>(byte - '0'), kMagnitudeCap);
    byte = text_.get();
  } while (isDigit(byte));
  lookahead_ = byte;

  const auto value = static_cast<std::int64_t>(magnitude);
  if (negative) {
    code = static_cast<std::int32_t>(-value);
  } else {
    code = magnitude == kMagnitudeCap ? std::numeric_limits<std::int32_t>::max()
                                      : static_cast<std::int32_t>(value);
  }
  return true;
}

}  // namespace quarvend
