// Fuzz target: the code reader against the C library's sscanf with "%d%n",
// two independent readings of a number list that must agree wherever every
// code fits in an int. The input bytes are a program for a small text
// generator, so that long digit runs, signs, carriage returns, Ctrl-Z and NUL
// bytes turn up far more often than in random bytes.
//
// Byte 0 chooses the reader's block size and the read size; each later byte
// is one token: its low 3 bits choose the kind, the high 5 bits (`arg`) shape
// it, and some kinds take the next byte as well.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "decode/encoded_reader.h"
#include "fuzz_support.h"
#include "support/memory_streams.h"

namespace quarvend::fuzz {
namespace {

using testing::MemorySource;

// sscanf rescans to the end of its string on every call; a bound keeps the
// whole check linear enough to stay fast.
constexpr std::size_t kMaxText = 1024;

constexpr std::size_t kBlockSizes[8] = {1, 1, 1,  2,
                                        3, 7, 64, DosTextReader::kDefaultBlockSize};
constexpr std::size_t kReadSizes[8] = {1, 2, 3, 5, 16, 4096, SIZE_MAX, SIZE_MAX};

// Numbers at and just past the edges of int and of 64 bits, and some that cut
// to 32 bits would land in the table (4294967323 and -4294967041 as 27, 255).
constexpr std::string_view kEdges[] = {
    "2147483647",
    "-2147483648",
    "2147483648",
    "-2147483649",
    "4294967295",
    "4294967296",
    "4294967323",
    "-4294967041",
    "9223372036854775807",
    "9223372036854775808",
    "18446744073709551643",
    "0000000000002147483647",
    "-000000000002147483648",
    "255",
    "256",
    "-1",
};

constexpr char kWhiteSpace[] = {' ', '\t', '\n', '\v', '\f', '\r'};

// Expands the token program in data[0..size) into raw file bytes.
std::string generate(const std::uint8_t* data, std::size_t size) {
  std::string out;
  std::size_t at = 0;
  auto operand = [&]() -> unsigned { return at < size ? data[at++] : 0u; };
  while (at < size && out.size() < kMaxText) {
    const unsigned token = data[at++];
    const unsigned arg = token >> 3;
    switch (token & 7u) {
      case 0:  // a digit run of 1 to 32 digits, each from an operand byte
        for (unsigned i = 0; i <= arg; ++i)
          out.push_back(static_cast<char>('0' + operand() % 10));
        break;
      case 1:  // leading zeros
        out.append(arg + 1, '0');
        break;
      case 2:
        out.push_back((arg & 1u) != 0 ? '-' : '+');
        break;
      case 3:
        out.append(arg % 3 + 1, '\r');
        break;
      case 4:
        out.append(arg / 6 + 1, kWhiteSpace[arg % 6]);
        break;
      case 5:  // any byte at all
        out.push_back(static_cast<char>(operand()));
        break;
      case 6:
        out.append(kEdges[arg % std::size(kEdges)]);
        break;
      default:
        if (arg < 4) {
          out.push_back('\x1A');
        } else if (arg < 8) {
          out.push_back('\0');
        } else {  // a code in the table's range, the everyday case
          out.append(std::to_string(operand()));
        }
        break;
    }
  }
  return out;
}

bool isCSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isCDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Where the next conversion of `text` from `at` would look: past the white
// space and an optional sign, to the digits (which may be none).
struct NextNumber {
  bool negative = false;
  std::size_t digitsBegin = 0;
  std::size_t digitsEnd = 0;
};

NextNumber locate(std::string_view text, std::size_t at) {
  NextNumber next;
  while (at < text.size() && isCSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    next.negative = text[at] == '-';
    ++at;
  }
  next.digitsBegin = at;
  while (at < text.size() && isCDigit(text[at])) ++at;
  next.digitsEnd = at;
  return next;
}

// True when the signed digit run has a value an int can hold, so that
// sscanf's conversion of it is well defined.
bool fitsInInt(bool negative, std::string_view digits) {
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  if (digits.size() > 10) return false;
  const std::int64_t magnitude = std::stoll(std::string(digits));
  const std::int64_t value = negative ? -magnitude : magnitude;
  return value >= std::numeric_limits<int>::min() &&
         value <= std::numeric_limits<int>::max();
}

struct ScanResult {
  std::vector<std::int32_t> codes;
  // Set when the list goes on with a code too big for an int: the comparison
  // stops before it, and the reader must pin it to this 32-bit limit.
  bool tooBig = false;
  std::int32_t pinned = 0;
  // Otherwise the index in the text of the byte that ended the list (the
  // text's size when the text itself ended).
  std::size_t stop = 0;
};

// Reads the list the C library's way. `text` is cut at its first NUL, where
// sscanf's string ends and the reader's list ends too.
ScanResult scanWithLibc(const std::string& text) {
  ScanResult result;
  const std::string_view view(text.c_str());
  std::size_t at = 0;
  for (;;) {
    const NextNumber next = locate(view, at);
    const std::string_view digits =
        view.substr(next.digitsBegin, next.digitsEnd - next.digitsBegin);
    if (!digits.empty() && !fitsInInt(next.negative, digits)) {
      result.tooBig = true;
      result.pinned = next.negative ? std::numeric_limits<std::int32_t>::min()
                                    : std::numeric_limits<std::int32_t>::max();
      return result;
    }
    int value = 0;
    int used = 0;
    if (std::sscanf(view.data() + at, "%d%n", &value, &used) != 1) {
      require(digits.empty(), "sscanf fails only where no digits follow");
      result.stop = next.digitsEnd;
      return result;
    }
    at += static_cast<std::size_t>(used);
    require(at == next.digitsEnd, "sscanf stops right after the digits");
    result.codes.push_back(value);
  }
}

}  // namespace
}  // namespace quarvend::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvend::fuzz;
  if (size < 1) return 0;
  const std::size_t blockSize = kBlockSizes[data[0] & 7u];
  const std::size_t readSize = kReadSizes[(data[0] >> 3) & 7u];
  const std::string raw = generate(data + 1, size - 1);
  const DosText dos = dosTextOf(raw);
  const ScanResult expected = scanWithLibc(dos.text);

  const std::string marker = "=+";
  MemorySource source(marker + raw, readSize);
  quarvend::EncodedReader reader(source, blockSize);
  require(reader.findStartMarker(), "marker at the very start is found");
  std::int32_t code = 0;
  for (std::int32_t want : expected.codes) {
    require(reader.nextCode(code), "reader yields every code sscanf finds");
    require(code == want, "reader's code equals sscanf's");
  }
  if (expected.tooBig) {
    require(reader.nextCode(code) && code == expected.pinned,
            "a code past int is pinned to the 32-bit limit");
    return 0;
  }
  require(!reader.nextCode(code), "reader's list ends where sscanf's does");
  // A one-byte block makes the source's count exact: the reader must have
  // taken the byte that ended the list and nothing after it.
  if (blockSize == 1) {
    require(source.consumed() == marker.size() + dos.rawConsumed[expected.stop],
            "reader looks one byte past the list, no further");
  }
  return 0;
}
