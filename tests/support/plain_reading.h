// An independent, plain reading of an ostrevic file, written straight from the
// format's rules with none of the decoder's code, and a driver that feeds the
// decoder in pieces. The decoder tests and the fuzz target compare the two.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "decode/encoded_reader.h"
#include "format/symbol_table.h"
#include "io/dos_text_writer.h"
#include "pipeline/decode_input.h"

namespace quarvend::testing {

// The byte for `code` (0 to 255), worked out from the order and sizes of the
// symbol groups rather than read from the product's table; only the
// punctuation's order is taken from the alphabet itself, and the symbol table
// tests pin it down.
inline unsigned char plainByteFor(int code) {
  constexpr std::string_view kPunctuation = kSymbolGroups[4];
  if (code == 0) return '\n';
  if (code <= 26) return static_cast<unsigned char>('A' + code - 1);
  if (code <= 52) return static_cast<unsigned char>('a' + code - 27);
  if (code <= 62) return static_cast<unsigned char>('0' + code - 53);
  if (code <= 95) return static_cast<unsigned char>(kPunctuation[code - 63]);
  if (code <= 190) return static_cast<unsigned char>(0xA1 + code - 96);
  return 0;
}

struct Decoded {
  EncodedReader::End end = EncodedReader::End::kNone;
  std::string text;  // in on-disk form: every line feed after a carriage return
  bool readFailed = false;
  std::int64_t code = 0;  // for kCodeOutOfRange: that code, ten digits and more as 10^9

  bool operator==(const Decoded&) const = default;
  friend void PrintTo(const Decoded& decoded, std::ostream* out) {
    *out << "end " << static_cast<int>(decoded.end) << ", code " << decoded.code
         << (decoded.readFailed ? ", read failed" : "") << ", text \"" << decoded.text
         << '"';
  }
};

// Reads `raw` as the format says: drop every CR, stop at the first Ctrl-Z;
// the marker is the first '=' when a '+' follows it; then white space, an
// optional sign and digits, over and over, until anything else. With
// `breaksOff`, a read failed right after `raw`: a lead-in or list that runs
// to its end ends in the failure, and a code it cut off is not decoded.
inline Decoded plainReading(std::string_view raw, bool breaksOff = false) {
  const std::string_view read = raw.substr(0, raw.find('\x1A'));
  breaksOff = breaksOff && read.size() == raw.size();  // a Ctrl-Z came first
  std::string text;
  for (char byte : read) {
    if (byte != '\r') text += byte;
  }
  Decoded decoded;
  const auto brokenOff = [&](std::size_t at) {
    decoded.readFailed = breaksOff && at >= text.size();
    return decoded.readFailed;
  };
  const std::size_t equals = text.find('=');
  // Still looking for the marker, or for its '+', when the read failed.
  if (brokenOff(equals == std::string::npos ? equals : equals + 1)) return decoded;
  if (equals == std::string::npos || text.compare(equals, 2, "=+") != 0) {
    decoded.end = EncodedReader::End::kNotOstrevic;
    return decoded;
  }
  const auto isDigit = [&](std::size_t i) {
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
  };
  for (std::size_t at = equals + 2;;) {
    while (at < text.size() &&
           std::string_view(" \t\n\v\f").find(text[at]) != std::string_view::npos)
      ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    if (brokenOff(at)) return decoded;
    if (!isDigit(at)) {
      decoded.end = EncodedReader::End::kEndOfList;
      return decoded;
    }
    while (text[at] == '0' && isDigit(at + 1)) ++at;
    std::string digits;
    while (isDigit(at)) digits += text[at++];
    if (brokenOff(at)) return decoded;
    const std::int64_t value = digits.size() >= 10 ? 1'000'000'000 : std::stoll(digits);
    if (value > 255 || (negative && value != 0)) {
      decoded.end = EncodedReader::End::kCodeOutOfRange;
      decoded.code = negative ? -value : value;
      return decoded;
    }
    const unsigned char byte = plainByteFor(value);
    if (byte == '\n') decoded.text += '\r';
    decoded.text += static_cast<char>(byte);
  }
}

inline std::int64_t codeOf(const EncodedReader& reader) {
  return reader.end() == EncodedReader::End::kCodeOutOfRange ? reader.outOfRangeCode()
                                                             : 0;
}

// Feeds `raw` to a reader that scans with `scan`, in pieces of the sizes in
// `pieces`, taken in turn and over again (0 stands for the rest), and then the
// end of the input.
inline Decoded decodeInPieces(std::string_view raw,
                              const std::vector<std::size_t>& pieces,
                              ScanFunction scan = bestScan()) {
  EncodedReader reader(scan);
  std::vector<unsigned char> out;
  std::size_t at = 0;
  for (std::size_t i = 0; at < raw.size() && !reader.ended(); ++i) {
    const std::size_t piece = pieces[i % pieces.size()];
    const std::size_t size =
        piece == 0 ? raw.size() - at : std::min(piece, raw.size() - at);
    const std::size_t used = out.size();
    out.resize(used + EncodedReader::maxOutput(size));
    out.resize(used + reader.feed(reinterpret_cast<const unsigned char*>(raw.data()) + at,
                                  size, out.data() + used));
    at += size;
  }
  const std::size_t used = out.size();
  out.resize(used + EncodedReader::maxOutput(0));
  out.resize(used + reader.finish(out.data() + used));
  return {reader.end(), std::string(out.begin(), out.end()), false, codeOf(reader)};
}

// Decodes `source` the way the tool does, as a large regular file split into
// blocks of `blockSize` for `threads` threads, into a writer with a small
// buffer.
inline Decoded decodeFrom(ByteSource& source, std::size_t blockSize, unsigned threads,
                          ScanFunction scan = bestScan()) {
  struct Sink final : ByteSink {
    std::string bytes;
    bool write(const unsigned char* data, std::size_t size, std::string&) override {
      bytes.append(reinterpret_cast<const char*>(data), size);
      return true;
    }
    bool close(std::string&) override { return true; }
  } sink;
  static DecodeBuffers* const buffers = new DecodeBuffers;
  // The least the decoder reserves, so that a block's text is large next to
  // the buffer and goes out straight from its slot, as it does in the tool.
  std::vector<unsigned char> text(
      EncodedReader::maxOutput(blockSize + searchWindow(blockSize)));
  DosTextWriter output(text.data(), text.size());
  const std::size_t number = output.addSink(sink);
  std::string reason;
  std::size_t first = 0;
  if (!source.read(buffers->first, blockSize, first, reason)) return {.readFailed = true};
  EncodedReader reader(scan);
  const InputEnd end = decodeInput(source, first, reader, output, *buffers,
                                   {blockSize, {true, UINT64_MAX, threads}}, reason);
  output.close(number);
  return {reader.end(), sink.bytes, end == InputEnd::kReadFailed, codeOf(reader)};
}

// A source that holds `all`, followed by a failure when `fails`: every read
// from the end of `all` on then fails, and a read that reaches it stops
// short, as on a failing disk.
struct StringSource final : ByteSource {
  std::string_view all;
  bool fails = false;
  std::atomic<std::size_t> at = 0;  // where read() goes on; watched by other threads

  // raw[0..failAt), and a failure there when failAt lies within raw.
  StringSource(std::string_view raw, std::size_t failAt = std::string_view::npos)
      : all(raw.substr(0, failAt)), fails(failAt < raw.size()) {}
  bool read(unsigned char* buffer, std::size_t size, std::size_t& got,
            std::string& reason) override {
    const bool whole = readAt(at, buffer, size, got, reason);
    at += got;
    return whole || got > 0;
  }
  bool readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason) override {
    const std::string_view rest =
        all.substr(static_cast<std::size_t>(std::min<std::uint64_t>(offset, all.size())));
    got = std::min(size, rest.size());
    std::copy_n(rest.data(), got, buffer);
    if (fails && got < size) reason = "Input/output error";
    return !fails || got == size;
  }
};

// decodeFrom on `raw`, which hands out at most `blockSize` bytes a read,
// failing at `failAt` as StringSource does.
inline Decoded decodeAsTheTool(std::string_view raw, std::size_t blockSize,
                               unsigned threads, ScanFunction scan = bestScan(),
                               std::size_t failAt = std::string_view::npos) {
  StringSource source(raw, failAt);
  return decodeFrom(source, blockSize, threads, scan);
}

}  // namespace quarvend::testing
