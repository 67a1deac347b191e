// The shape of an ostrevic file: its start marker, and the white space and
// digits of its number list.
#pragma once

#include "format/dos_text.h"

namespace quarvend {

// The start marker: the first '=' of the file, then '+'.
inline constexpr unsigned char kMarkerFirst = '=';
inline constexpr unsigned char kMarkerSecond = '+';

// White space separates codes: tab, line feed, vertical tab, form feed and
// carriage return (one run of bytes), and space.
inline constexpr unsigned char kSpaceRunFirst = '\t';
inline constexpr unsigned char kSpaceRunLast = '\r';
inline constexpr unsigned char kSpaceAlone = ' ';
constexpr bool isSpace(int byte) {
  return byte == kSpaceAlone || (byte >= kSpaceRunFirst && byte <= kSpaceRunLast);
}
constexpr bool isDigit(int byte) { return byte >= '0' && byte <= '9'; }

// White space that ends a code wherever it stands: all but the carriage
// return, which is dropped even inside a code.
constexpr bool isSeparator(int byte) {
  return isSpace(byte) && !isDroppedOnReading(byte);
}

// A code is a value from 0 to kLargestCode, in at most three digits; any
// other value stops decoding.
inline constexpr unsigned kLargestCode = 255;
constexpr bool isCode(unsigned value) { return value <= kLargestCode; }

}  // namespace quarvend
