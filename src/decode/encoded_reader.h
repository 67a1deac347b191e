// Reads an ostrevic file: the start marker, then the number list.
#pragma once

#include <cstdint>

#include "decode/dos_text_reader.h"

namespace quarvend {

class EncodedReader {
 public:
  static constexpr unsigned char kMarkerFirst = '=';
  static constexpr unsigned char kMarkerSecond = '+';

  // White space separates codes: tab, line feed, vertical tab, form feed,
  // carriage return and space. `byte` may also be DosTextReader::kEnd.
  static constexpr bool isSpace(int byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
  }
  static constexpr bool isDigit(int byte) { return byte >= '0' && byte <= '9'; }

  // Reads `source` (which must outlive the reader) through a DosTextReader.
  explicit EncodedReader(ByteSource& source,
                         std::size_t blockSize = DosTextReader::kDefaultBlockSize)
      : text_(source, blockSize) {}

  // Skips the lead-in up to the first equals sign and reports whether a plus
  // sign follows it directly. Call once, before nextCode.
  bool findStartMarker();

  // Stores the next code in `code` and returns true, or returns false when the
  // number list has ended (at the end of the input, or at a byte that cannot
  // start a code). A run of digits of any length is one code; one whose value
  // lies outside the 32-bit range is stored as the nearest 32-bit limit, so it
  // stays out of any table's range instead of wrapping around into it. The
  // byte that ended a code is kept for the next call.
  bool nextCode(std::int32_t& code);

  // For a bulk scanner working beside nextCode. True when the next code starts
  // exactly at the reader's unread raw bytes (see DosTextReader::rawBegin),
  // false while a byte other than white space is held back from the last
  // code, which only nextCode may look at. A held-back white-space byte is
  // dropped, since the next code would skip it anyway.
  bool atRawCodeBoundary() {
    if (isSpace(lookahead_)) lookahead_ = kNone;
    return lookahead_ == kNone;
  }

  // The reader's unread raw bytes; meaningful only while atRawCodeBoundary().
  const unsigned char* rawBegin() const { return text_.rawBegin(); }
  std::size_t rawSize() const { return text_.rawSize(); }
  void skipRaw(std::size_t count) { text_.skipRaw(count); }

  // Closes the input. Returns 0, or -1 when the close failed.
  int close() { return text_.close(); }

 private:
  int next() {
    if (lookahead_ == kNone) return text_.get();
    const int byte = lookahead_;
    lookahead_ = kNone;
    return byte;
  }

  static constexpr int kNone = -2;

  DosTextReader text_;
  int lookahead_ = kNone;  // the byte after the last code's digits, not yet examined
};

}  // namespace quarvend
