// The round trip: a text encoded in pieces and decoded in pieces by the
// decoder gives the text back, and the encoding has the shape the format
// wants. The encoder tests and the fuzz target share it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "encode/text_encoder.h"
#include "support/plain_reading.h"

namespace quarvend::testing {

// Encodes `text` fed in pieces of the sizes in `pieces`, taken in turn (0
// stands for the rest), then finishes; `encoder` is left as the text left it.
inline std::string encodeInPieces(std::string_view text,
                                  const std::vector<std::size_t>& pieces,
                                  TextEncoder& encoder) {
  std::string out;
  for (std::size_t at = 0, i = 0; at < text.size(); ++i) {
    const std::size_t piece = pieces[i % pieces.size()];
    const std::size_t size =
        piece == 0 ? text.size() - at : std::min(piece, text.size() - at);
    const std::size_t used = out.size();
    out.resize(used + TextEncoder::maxOutput(size));
    out.resize(used +
               encoder.feed(reinterpret_cast<const unsigned char*>(text.data()) + at,
                            size, reinterpret_cast<unsigned char*>(out.data()) + used));
    at += size;
  }
  const std::size_t used = out.size();
  out.resize(used + TextEncoder::maxOutput(0));
  out.resize(used + encoder.finish(reinterpret_cast<unsigned char*>(out.data()) + used));
  return out;
}

// Checks the round trip for `text` (bytes with a code, LF or CR LF line ends,
// Ctrl-Z): every encoding kernel gives the same file; decoded in pieces of
// `decodePieces`, it gives back the text before the first Ctrl-Z with CR LF
// line ends; and it is "=+" on a line
// of its own, then plain decimal codes one space apart in CR LF lines of at
// most 76 characters, each as full as the next code allows. Returns what is
// wrong, or "" when all holds.
inline std::string roundTripFault(std::string_view text,
                                  const std::vector<std::size_t>& encodePieces,
                                  const std::vector<std::size_t>& decodePieces) {
  std::string file;
  for (const EncodeKernel& kernel : usableEncodeKernels()) {
    TextEncoder encoder(kernel);
    const std::string encoded = encodeInPieces(text, encodePieces, encoder);
    if (encoder.stage() != TextEncoder::Stage::kComplete)
      return std::string(kernel.name) + ": the encoder stopped early";
    if (!file.empty() && encoded != file)
      return std::string(kernel.name) + ": not the other kernels' bytes";
    file = encoded;
  }
  std::string expected;
  for (char byte : text.substr(0, text.find('\x1A'))) {
    if (byte == '\n' && !expected.ends_with('\r')) expected += '\r';
    expected += byte;
  }
  if (decodeInPieces(file, decodePieces) !=
      Decoded{EncodedReader::End::kEndOfList, expected})
    return "the text does not come back";
  if (!file.starts_with("=+\r\n") || !file.ends_with("\r\n"))
    return "no marker line or line end";
  std::vector<std::string_view> lines;
  for (std::size_t at = 4, end; at < file.size(); at = end + 2) {
    end = file.find("\r\n", at);
    lines.push_back(std::string_view(file).substr(at, end - at));
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty() || lines[i].size() > 76) return "a line is empty or too long";
    for (std::size_t at = 0, end = 0; end != lines[i].npos; at = end + 1) {
      end = lines[i].find(' ', at);
      const std::string_view code = lines[i].substr(at, end - at);
      if (code.empty() || code.size() > 3 || (code.size() > 1 && code[0] == '0') ||
          code.find_first_not_of("0123456789") != code.npos)
        return "codes not one space apart, or not plain decimal";
    }
    if (i + 1 < lines.size() &&
        lines[i].size() + 1 + lines[i + 1].substr(0, lines[i + 1].find(' ')).size() <= 76)
      return "a line could have taken the next code";
  }
  return "";
}

}  // namespace quarvend::testing
