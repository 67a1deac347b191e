// The shape of an ostrevic file: its start marker, and the white space and
// digits of its number list.
#pragma once

namespace quarvend {

// The start marker: the first '=' of the file, then '+'.
inline constexpr unsigned char kMarkerFirst = '=';
inline constexpr unsigned char kMarkerSecond = '+';

// White space separates codes: tab, line feed, vertical tab, form feed,
// carriage return and space.
constexpr bool isSpace(int byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }
constexpr bool isDigit(int byte) { return byte >= '0' && byte <= '9'; }

}  // namespace quarvend
