// Decodes an ostrevic file: the start marker, then the number list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/code_scanner.h"
#include "format/ostrevic.h"

namespace quarvend {

// A streaming decoder. It is fed the input one block at a time, in file order,
// and appends each code's byte, in on-disk form, to the caller's buffer. It does
// no I/O and owns no buffer, so it runs on any thread. Between two blocks it
// carries only the named state below: the stage, a pending sign, a partial
// code, and how the input ended.
class EncodedReader {
 public:
  // Where in the file the reader stands.
  enum class Stage : std::uint8_t {
    kLeadIn,        // before the first '='
    kMarker,        // right after the first '=': a '+' must follow
    kBetweenCodes,  // in the number list, before a code or white space
    kSign,          // a sign was read: a digit must follow
    kCode,          // inside a code's digits
    kEnded,         // nothing more is decoded; see end()
  };

  // Why the reader stopped.
  enum class End : std::uint8_t {
    kNone,            // not yet
    kNotOstrevic,     // no start marker
    kEndOfList,       // the number list ended as the format allows
    kCodeOutOfRange,  // a code outside 0 to 255; nothing was written for it
  };

  // A code's magnitude stops growing here, so that a run of digits of any
  // length is read without overflow and never wraps into the table's range.
  static constexpr std::uint32_t kMagnitudeCap = 1'000'000'000;

  // The most bytes that feed() of `size` bytes, or finish(), appends.
  static constexpr std::size_t maxOutput(std::size_t size) {
    return kMaxFormSize * (size + 1);
  }

  // A reader at the start of a file, decoding plain runs of codes with `scan`.
  EncodedReader() = default;
  explicit EncodedReader(ScanFunction scan) : scan_(scan) {}

  // A reader for a piece of the number list that starts between two codes.
  static EncodedReader inNumberList(ScanFunction scan) {
    EncodedReader reader(scan);
    reader.stage_ = Stage::kBetweenCodes;
    return reader;
  }

  // Decodes block[0..size), the input's next bytes, into `out`, which has room
  // for maxOutput(size) bytes. Returns how many bytes it stored. A Ctrl-Z
  // ends the reader, as the end of the input does.
  std::size_t feed(const unsigned char* block, std::size_t size, unsigned char* out);

  // The input has ended: completes a code in progress and ends the reader.
  // Returns how many bytes it stored in `out` (room for kMaxFormSize).
  std::size_t finish(unsigned char* out);

  ScanFunction scan() const { return scan_; }
  End end() const { return end_; }
  // For kCodeOutOfRange: that code, its magnitude at most kMagnitudeCap.
  std::int64_t outOfRangeCode() const {
    return negative_ ? -std::int64_t{magnitude_} : std::int64_t{magnitude_};
  }
  bool ended() const { return stage_ == Stage::kEnded; }
  // True once the start marker has been read (the list may have ended since).
  bool pastMarker() const { return stage_ > Stage::kMarker && end_ != End::kNotOstrevic; }

 private:
  // Applies the rules code by code from `at` up to `limit`; returns where it stopped.
  const unsigned char* findStartMarker(const unsigned char* at,
                                       const unsigned char* limit);
  const unsigned char* nextCodes(const unsigned char* at, const unsigned char* limit,
                                 unsigned char*& out, std::size_t count);
  // Stores the completed code's byte; false (and the reader ends) when the code
  // lies outside the table.
  bool emitCode(unsigned char*& out);
  void endWith(End end) {
    stage_ = Stage::kEnded;
    end_ = end;
  }

  ScanFunction scan_ = bestScan();
  Stage stage_ = Stage::kLeadIn;
  End end_ = End::kNone;
  bool negative_ = false;        // the pending sign was '-'
  std::uint32_t magnitude_ = 0;  // the partial code's digits, up to kMagnitudeCap
};

}  // namespace quarvend
