// Fuzz target: raw bytes through the code reader, the symbol table, the decode
// loop and the DOS text writers, all in memory, checked against a plain
// reference reading of the same bytes written from the format's rules.
//
// The first kHeaderSize bytes set the stage, the rest is the ostrevic file:
//   [0] reader block size         [1] bytes handed out per read
//   [2] writer buffer sizes: low nibble the file's, high nibble the console's
//   [3] bit 0: decode without a file writer; bit 1: one read fails;
//       bit 2: one write to the file fails
//   [4] low nibble: index of the failing read; high nibble: of the failing write

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decode_loop.h"
#include "cli/dos_text_writer.h"
#include "decode/encoded_reader.h"
#include "decode/symbol_table.h"
#include "fuzz_support.h"
#include "support/memory_streams.h"

namespace quarvend::fuzz {
namespace {

using testing::MemorySink;
using testing::MemorySource;

constexpr std::size_t kHeaderSize = 5;

struct Setup {
  std::size_t blockSize;
  std::size_t readSize;
  std::size_t fileBuffer;
  std::size_t consoleBuffer;
  bool withFile;
  int failingRead;   // -1 for none
  int failingWrite;  // -1 for none
};

// Mostly small sizes, so that buffer edges fall inside every token.
std::size_t smallOr(unsigned selector, std::size_t large) {
  return selector >= 0xF0 ? large : 1 + selector % 16;
}

// A writer buffer size from a nibble; 0 and 1 test the writer's lower bound.
std::size_t bufferSize(unsigned nibble) {
  return nibble == 15 ? DosTextWriter::kDefaultBufferSize : nibble;
}

Setup setupFrom(const std::uint8_t* header) {
  Setup setup;
  setup.blockSize = smallOr(header[0], DosTextReader::kDefaultBlockSize);
  setup.readSize = smallOr(header[1], SIZE_MAX);
  setup.fileBuffer = bufferSize(header[2] & 15u);
  setup.consoleBuffer = bufferSize(header[2] >> 4);
  setup.withFile = (header[3] & 1u) == 0;
  setup.failingRead = (header[3] & 2u) != 0 ? header[4] & 15 : -1;
  setup.failingWrite = (header[3] & 4u) != 0 ? header[4] >> 4 : -1;
  return setup;
}

// The byte for `code` (0 to 255), worked out from the order and sizes of the
// symbol groups instead of being read from the product's table.
unsigned char referenceByte(int code) {
  constexpr std::string_view kPunctuation = "~!@#$%^&*()_+`-={}|[]\\:\";'<>?,./ ";
  if (code == 0) return '\n';
  if (code <= 26) return static_cast<unsigned char>('A' + code - 1);
  if (code <= 52) return static_cast<unsigned char>('a' + code - 27);
  if (code <= 62) return static_cast<unsigned char>('0' + code - 53);
  if (code <= 95) return static_cast<unsigned char>(kPunctuation[code - 63]);
  if (code <= 190) return static_cast<unsigned char>(0xA1 + code - 96);
  return 0;
}

// The product's table, built once and checked entry by entry.
const SymbolTable& checkedTable() {
  static const SymbolTable table = [] {
    SymbolTable built;
    built.build();
    for (int code = 0; code < SymbolTable::kSize; ++code) {
      require(built.byteFor(code) == referenceByte(code), "table entry as laid out");
    }
    return built;
  }();
  return table;
}

bool isWhite(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == ' ' || (byte >= 9 && byte <= 13);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a signed digit run, pinned to the nearest 32-bit limit when
// it lies outside the 32-bit range.
std::int32_t pinnedValue(bool negative, std::string_view digits) {
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.size() > 10) {
    return negative ? std::numeric_limits<std::int32_t>::min()
                    : std::numeric_limits<std::int32_t>::max();
  }
  std::int64_t magnitude = 0;
  for (char digit : digits) magnitude = magnitude * 10 + (digit - '0');
  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
}

struct Reading {
  bool marker = false;
  std::vector<std::int32_t> codes;  // the whole list, out-of-range codes included
};

// Reads `raw` the way the format says: as DOS text, the marker is the first
// '=' when a '+' follows it directly, and the list is white space, an
// optional sign and digits, over and over, until anything else.
Reading referenceRead(std::string_view raw) {
  const std::string text = dosTextOf(raw).text;
  Reading reading;
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals + 1 == text.size() ||
      text[equals + 1] != '+') {
    return reading;
  }
  reading.marker = true;
  std::size_t at = equals + 2;
  for (;;) {
    while (at < text.size() && isWhite(text[at])) ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const std::size_t first = at;
    while (at < text.size() && isDigit(text[at])) ++at;
    if (at == first) return reading;
    reading.codes.push_back(pinnedValue(negative, text.substr(first, at - first)));
  }
}

struct Decoding {
  DecodeEnd end = DecodeEnd::kEndOfList;
  std::string text;  // before line ends become CR LF
};

Decoding referenceDecode(const std::vector<std::int32_t>& codes) {
  Decoding decoding;
  for (std::int32_t code : codes) {
    if (code < 0 || code > 255) {
      decoding.end = DecodeEnd::kCodeOutOfRange;
      break;
    }
    decoding.text.push_back(static_cast<char>(referenceByte(code)));
  }
  return decoding;
}

std::string withDosLineEnds(std::string_view text) {
  std::string out;
  for (char byte : text) {
    if (byte == '\n') out.push_back('\r');
    out.push_back(byte);
  }
  return out;
}

// True when `out` is table bytes with each line feed preceded by the carriage
// return the writer adds, and no other carriage return.
bool isDosTableText(std::string_view out, const SymbolTable& table) {
  bool inTable[256] = {};
  for (int code = 0; code < SymbolTable::kSize; ++code)
    inTable[table.byteFor(code)] = true;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') {
      if (i + 1 == out.size() || out[i + 1] != '\n') return false;
      ++i;
    } else if (out[i] == '\n' || !inTable[static_cast<unsigned char>(out[i])]) {
      return false;
    }
  }
  return true;
}

// The raw bytes the reader actually received: all of `data`, unless the
// planted read failure was reached, which ends the input where it struck.
std::string_view received(std::string_view data, const MemorySource& source) {
  const bool failed = source.failingRead >= 0 && source.reads() > source.failingRead;
  return failed ? data.substr(0, source.consumed()) : data;
}

MemorySource sourceFor(std::string_view file, const Setup& setup) {
  MemorySource source{std::string(file), setup.readSize};
  source.failingRead = setup.failingRead;
  return source;
}

// The reader alone: the marker and every code, past any out-of-range ones.
void checkReader(std::string_view file, const Setup& setup) {
  MemorySource source = sourceFor(file, setup);
  EncodedReader reader(source, setup.blockSize);
  const bool marker = reader.findStartMarker();
  std::vector<std::int32_t> codes;
  std::int32_t code = 0;
  // Every code takes at least one byte, so more codes than bytes is a fault.
  while (marker && codes.size() <= file.size() && reader.nextCode(code)) {
    codes.push_back(code);
  }
  const Reading expected = referenceRead(received(file, source));
  require(marker == expected.marker, "start marker found as the rules say");
  require(codes == expected.codes, "reader codes equal the reference reading");
}

// The decode loop and both writers.
void checkDecoding(std::string_view file, const Setup& setup, const SymbolTable& table) {
  MemorySource source = sourceFor(file, setup);
  EncodedReader reader(source, setup.blockSize);
  if (!reader.findStartMarker()) return;  // the tool decodes nothing then
  MemorySink fileSink;
  MemorySink consoleSink;
  fileSink.failingWrite = setup.failingWrite;
  DosTextWriter fileWriter(fileSink, setup.fileBuffer);
  DosTextWriter console(consoleSink, setup.consoleBuffer);
  const DecodeEnd end =
      decodeAll(reader, table, setup.withFile ? &fileWriter : nullptr, console);
  const int fileClosed = fileWriter.close();
  const int consoleClosed = console.close();

  const Reading reading = referenceRead(received(file, source));
  require(reading.marker, "start marker found as the rules say");
  const Decoding expected = referenceDecode(reading.codes);
  require(end == expected.end, "decoding ends as the rules say");
  require(consoleClosed == 0, "console writer without faults succeeds");
  require(isDosTableText(consoleSink.bytes, table),
          "output is table bytes with CR before every LF");
  require(consoleSink.bytes == withDosLineEnds(expected.text),
          "output equals the reference decoding");

  const bool writeFailed =
      setup.failingWrite >= 0 && fileSink.writes() > setup.failingWrite;
  require((fileClosed != 0) == writeFailed, "file writer reports exactly its failures");
  if (!setup.withFile) {
    require(fileSink.bytes.empty(), "no file writer, no file output");
  } else if (!writeFailed) {
    require(fileSink.bytes == consoleSink.bytes, "file and console get the same bytes");
  }
}

}  // namespace
}  // namespace quarvend::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvend::fuzz;
  if (size < kHeaderSize) return 0;
  const Setup setup = setupFrom(data);
  const std::string_view file(reinterpret_cast<const char*>(data + kHeaderSize),
                              size - kHeaderSize);
  const quarvend::SymbolTable& table = checkedTable();
  checkReader(file, setup);
  checkDecoding(file, setup, table);
  return 0;
}
