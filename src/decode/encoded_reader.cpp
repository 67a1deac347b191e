#include "decode/encoded_reader.h"

#include <algorithm>
#include <cstring>

#include "format/dos_text.h"
#include "format/ostrevic.h"
#include "format/symbol_table.h"

namespace quarvend {
namespace {

// After a scan that decoded fewer codes than this, the scanner is not worth
// its setup here, and a stretch of codes is read the plain way before it is
// tried again. The stretch starts short, so that a lone sign or long code
// costs little, and doubles with every scan in a row that falls short, so
// that inputs full of them decode about as fast as code by code.
constexpr std::size_t kWorthwhileScan = 8;
constexpr std::size_t kShortestPlainStretch = 16;
constexpr std::size_t kLongestPlainStretch = std::size_t{1} << 16;

}  // namespace

std::size_t EncodedReader::feed(const unsigned char* block, std::size_t size,
                                unsigned char* out) {
  if (ended() || size == 0) return 0;
  unsigned char* const outStart = out;
  const unsigned char* at = block;
  const unsigned char* const limit = block + size;
  if (stage_ < Stage::kBetweenCodes) at = findStartMarker(at, limit);

  std::size_t plainStretch = kShortestPlainStretch;  // the next stretch's length
  while (at != limit && !ended()) {
    std::size_t plainCodes = 1;  // codes to read the plain way before the next scan
    const auto left = static_cast<std::size_t>(limit - at);
    if (stage_ == Stage::kBetweenCodes && left >= kScanReadAhead) {
      // `out` has room for more than the `left` bytes a scan may store. The
      // scan may stop anywhere; nextCodes then moves on or ends the reader.
      const ScanResult scan = scan_(at, left, out);
      at += scan.consumed;
      out += scan.written;
      if (scan.codes < kWorthwhileScan) {
        plainCodes = plainStretch;
        plainStretch = std::min(2 * plainStretch, kLongestPlainStretch);
      } else {
        plainStretch = kShortestPlainStretch;
      }
    }
    at = nextCodes(at, limit, out, plainCodes);
  }
  return static_cast<std::size_t>(out - outStart);
}

std::size_t EncodedReader::finish(unsigned char* out) {
  unsigned char* const outStart = out;
  switch (stage_) {
    case Stage::kLeadIn:
    case Stage::kMarker:
      endWith(End::kNotOstrevic);
      break;
    case Stage::kCode:
      if (!emitCode(out)) break;
      [[fallthrough]];
    case Stage::kBetweenCodes:
    case Stage::kSign:
      endWith(End::kEndOfList);
      break;
    case Stage::kEnded:
      break;
  }
  return static_cast<std::size_t>(out - outStart);
}

const unsigned char* EncodedReader::findStartMarker(const unsigned char* at,
                                                    const unsigned char* limit) {
  if (at == limit) return at;
  if (stage_ == Stage::kLeadIn) {
    const auto leadIn = static_cast<std::size_t>(limit - at);
    const auto* equals =
        static_cast<const unsigned char*>(std::memchr(at, kMarkerFirst, leadIn));
    const auto searched =
        equals == nullptr ? leadIn : static_cast<std::size_t>(equals - at);
    // A Ctrl-Z before the first equals sign ends the input there.
    static_assert(endsInput(kEndOfFileMark), "the one byte that ends the input");
    if (std::memchr(at, kEndOfFileMark, searched) != nullptr) {
      endWith(End::kNotOstrevic);
      return at;
    }
    if (equals == nullptr) return limit;
    at = equals + 1;
    stage_ = Stage::kMarker;
  }
  while (at != limit && isDroppedOnReading(*at)) ++at;
  if (at == limit) return at;
  if (*at != kMarkerSecond) {
    endWith(End::kNotOstrevic);
    return at;
  }
  stage_ = Stage::kBetweenCodes;
  return at + 1;
}

// One byte at a time, `count` codes at most. A carriage return is dropped
// wherever it stands: between codes it is white space anyway, and after a sign
// or inside a code it is skipped without ending anything.
const unsigned char* EncodedReader::nextCodes(const unsigned char* at,
                                              const unsigned char* limit,
                                              unsigned char*& out, std::size_t count) {
  while (at != limit) {
    const unsigned char byte = *at;
    switch (stage_) {
      case Stage::kBetweenCodes:
        if (isSpace(byte)) break;
        if (isDigit(byte)) {
          stage_ = Stage::kCode;
          negative_ = false;
          magnitude_ = static_cast<std::uint32_t>(byte - '0');
        } else if (byte == '+' || byte == '-') {
          stage_ = Stage::kSign;
          negative_ = byte == '-';
        } else {
          endWith(End::kEndOfList);
          return at;
        }
        break;
      case Stage::kSign:
        if (isDigit(byte)) {
          stage_ = Stage::kCode;
          magnitude_ = static_cast<std::uint32_t>(byte - '0');
        } else if (!isDroppedOnReading(byte)) {
          endWith(End::kEndOfList);
          return at;
        }
        break;
      case Stage::kCode:
        if (isDigit(byte)) {
          magnitude_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
              std::uint64_t{magnitude_} * 10 + (byte - '0'), kMagnitudeCap));
          break;
        }
        if (isDroppedOnReading(byte)) break;
        if (!emitCode(out)) return at;
        // The byte that ended the code is looked at again, between codes.
        stage_ = Stage::kBetweenCodes;
        if (--count == 0) return at;
        continue;
      default:
        return at;
    }
    ++at;
  }
  return at;
}

bool EncodedReader::emitCode(unsigned char*& out) {
  if (!isCode(magnitude_) || (negative_ && magnitude_ != 0)) {
    endWith(End::kCodeOutOfRange);
    return false;
  }
  static_assert(kLargestCode < kCodeOutputs.size(),
                "isCode keeps the lookup in the table");
  const OnDiskForm& form = kCodeOutputs[magnitude_];
  std::memcpy(out, form.bytes, sizeof form.bytes);
  out += form.size;
  return true;
}

}  // namespace quarvend
