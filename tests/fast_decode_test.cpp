// The decoder against the plain reading of the format: random inputs fed in
// random pieces and through the threaded path, every odd code at every offset
// around a hand-over, each kernel's stops, the block layout, and reads that
// fail part-way, on one thread or several.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "decode/code_scanner.h"
#include "decode/encoded_reader.h"
#include "support/plain_reading.h"

namespace quarvend {
namespace {

// Random ostrevic-like text: mostly what the scanner takes, with every rule it
// leaves to nextCodes mixed in at random places.
std::string randomInput(std::mt19937& rng) {
  const auto pick = [&rng](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  // A lone carriage return joins the codes around it, which mostly ends the
  // list; it comes in below, now and then, so that most lists run for many
  // blocks.
  static const std::vector<std::string> kSpaces = {" ",  " ",  " ",  "\r\n", "\n",
                                                   "\t", "\v", "\f", "  "};
  static const std::vector<std::string> kOddCodes = {
      "+7",         "-0",         "-1",  "+-5",   "+ 5",
      "-",          "0065",       "256", "999",   "1000",
      "0255",       "4294967296", "+",   "2\r55", "12\r\r3",
      "\x1a",       "x",          "=+",  "\x80",  "9999999999999999999999",
      "-2147483649"};
  std::string text;
  for (std::size_t n = pick(6); n > 0; --n)
    text += static_cast<char>("ab=+ \r\n7"[pick(8)]);
  if (pick(20) != 0) text += pick(10) == 0 ? "=x" : "=+";
  const std::size_t codes = pick(4) == 0 ? pick(40) : 100 + pick(900);
  const std::size_t oddOneIn = 1 + pick(3) * 150;  // often none at all
  for (std::size_t i = 0; i < codes; ++i) {
    if (pick(30) == 0) {
      text.append(1 + pick(80), " \n\t"[pick(3)]);
    } else {
      text += kSpaces[pick(kSpaces.size())];
    }
    if (pick(oddOneIn) == 0) {
      text += kOddCodes[pick(kOddCodes.size())];
    } else {
      std::string digits = std::to_string(pick(256));
      if (pick(20) == 0)
        digits.insert(0, 3 - std::min<std::size_t>(digits.size(), 3), '0');
      text += digits;
    }
  }
  // Carriage returns anywhere, now and then.
  for (std::size_t n = pick(3) == 0 ? pick(8) : 0; n > 0; --n) {
    text.insert(pick(text.size() + 1), 1, '\r');
  }
  if (pick(4) == 0)
    text += static_cast<char>(
        "\x1a"
        "a+5"[pick(4)]);
  return text;
}

TEST(FastDecode, MatchesPlainReadingOnRandomInputsInRandomPieces) {
  std::mt19937 rng(20260608);
  const std::vector<std::size_t> pieceSizes = {1,  2,  3,  7,   16,  64,
                                               67, 68, 69, 100, 131, 257};
  for (int i = 0; i < 3000; ++i) {
    const std::string input = randomInput(rng);
    std::vector<std::size_t> pieces = {0};
    if (i % 2 == 1) {
      pieces.assign(1 + rng() % 3, 0);
      for (std::size_t& piece : pieces) piece = pieceSizes[rng() % pieceSizes.size()];
    }
    const testing::Decoded expected = testing::plainReading(input);
    for (const ScanKernel& kernel : usableKernels()) {
      ASSERT_EQ(testing::decodeInPieces(input, pieces, kernel.scan), expected)
          << kernel.name << ", case " << i << ", first piece " << pieces[0]
          << ", input \"" << input << '"';
    }
    const unsigned threads = 1 + i % 4;
    const std::size_t blockSize = 40 + rng() % 300;
    const ScanKernel& kernel = usableKernels()[i % usableKernels().size()];
    ASSERT_EQ(testing::decodeAsTheTool(input, blockSize, threads, kernel.scan), expected)
        << kernel.name << ", case " << i << ", " << threads << " threads, blocks of "
        << blockSize << ", input \"" << input << '"';
  }
}

// Where blocks start and end, with blocks of 4 bytes and windows of 4: the
// read, the block's number, and its span (start, end, betweenCodes, last).
TEST(FastDecode, BlocksMeetAtSeparators) {
  const std::tuple<std::string_view, std::size_t, BlockSpan> rows[] = {
      {"12 34 56", 0, {0, 6, true, false}},   {"12 34 56", 1, {3, 6, true, false}},
      {"1234 567", 1, {4, 5, false, false}},   // no separator to start at
      {"1\r3 5\r78", 1, {4, 8, true, false}},  // a carriage return is none
      {"12 34 6", 1, {3, 6, true, false}},     // the input ends in the next block
      {"12 345 ", 1, {3, 7, true, true}},     {"12", 1, {2, 2, false, true}},
  };
  for (const auto& [read, number, want] : rows) {
    const BlockSpan span = blockSpan(reinterpret_cast<const unsigned char*>(read.data()),
                                     read.size(), number, 4);
    EXPECT_EQ(std::tie(span.start, span.end, span.betweenCodes, span.last),
              std::tie(want.start, want.end, want.betweenCodes, want.last))
        << '"' << read << "\", block " << number;
  }
}

// A read that fails part-way keeps what it read, on any number of threads:
// the input fails at every offset in turn, around every block's edges and
// windows (equal to a block and shorter), with a code longer than a block and
// its window and a list that ends before the last block.
TEST(FastDecode, ReadFailuresKeepWhatWasRead) {
  std::mt19937 rng(16);
  for (const auto [blockSize, blocks] :
       {std::pair<std::size_t, std::size_t>{48, 5}, {300, 4}}) {
    std::string input = "=+";
    const auto addCodes = [&](std::size_t until) {
      while (input.size() < until) {
        input += std::vector<std::string>{" ", "\r\n", "\t"}[rng() % 3];
        input += rng() % 8 == 0 ? "2\r5" : std::to_string(rng() % 256);
      }
    };
    addCodes(blockSize);
    input += ' ' + std::string(blockSize + searchWindow(blockSize), '0') + "7";
    addCodes(blocks * blockSize);
    input += " z 27";
    for (std::size_t failAt = 0; failAt <= input.size(); ++failAt) {
      const testing::Decoded expected =
          testing::plainReading(input.substr(0, failAt), failAt < input.size());
      for (unsigned threads = 1; threads <= kMaxThreads; ++threads) {
        ASSERT_EQ(testing::decodeAsTheTool(input, blockSize, threads, bestScan(), failAt),
                  expected)
            << threads << " threads, blocks of " << blockSize << ", failing at "
            << failAt;
      }
    }
  }
}

// Several threads past 4 GiB, where a 32-bit size_t wraps: a list of white
// space with a code every 256 MiB, made from the offset rather than stored. A
// block read from a wrapped offset brings codes from the start again, and a
// list that never ends runs into the limit on what is read.
TEST(FastDecode, ThreadsReadPast4GiB) {
  constexpr std::uint64_t kStep = std::uint64_t{1} << 28;
  constexpr std::uint64_t kSize = 17 * kStep + 9;
  struct Spaces final : ByteSource {
    std::atomic<std::uint64_t> served = 0;
    std::uint64_t at = 0;
    bool read(unsigned char* buffer, std::size_t size, std::size_t& got,
              std::string& reason) override {
      const bool read = readAt(at, buffer, size, got, reason);
      at += got;
      return read;
    }
    bool readAt(std::uint64_t offset, unsigned char* buffer, std::size_t size,
                std::size_t& got, std::string& reason) override {
      got = static_cast<std::size_t>(std::min<std::uint64_t>(size, kSize - offset));
      if ((served += got) > kSize + kSize / 256) {
        got = 0;
        reason = "read more than once";
        return false;
      }
      std::fill_n(buffer, got, ' ');
      for (std::uint64_t mark = 0; mark <= kSize / kStep; ++mark) {
        const std::string code = mark == 0 ? "=+" : std::to_string(mark + 26);
        for (std::size_t i = 0; i < code.size(); ++i) {
          if (mark * kStep + i - offset < got)
            buffer[mark * kStep + i - offset] = code[i];
        }
      }
      return true;
    }
  } source;
  std::string list = "=+";
  for (int code = 27; code <= 43; ++code) list += ' ' + std::to_string(code);
  EXPECT_EQ(testing::decodeFrom(source, kBlockSize, 2), testing::plainReading(list));
}

// The hand-over between the scanner and the code-by-code rules happens at
// block ends and in front of every code the scanner leaves alone. Each odd code is put at
// every offset around the first block boundary, behind enough plain codes for the scanner
// to be running when it gets there.
TEST(FastDecode, HandsOverAtBlockBoundaries) {
  const std::vector<std::string> oddCodes = {
      "12\r\n34", "12\r34", "12\r\r3", "12\r 3", "+5",  "-5",  "+-5", "1234", "0065",
      "256",      "\x1a",   "5\x1a",   "x",      "5 +", "7\r", "\r7", "255",  "0"};
  for (const std::string& odd : oddCodes) {
    for (std::size_t offset = 0; offset < 90; ++offset) {
      std::string input = "=+";
      while (input.size() + 3 <= 60 + offset) input += " 17";
      input.resize(60 + offset, ' ');
      input += ' ' + odd + " 3 200 1 \r\n 4";
      for (int i = 0; i < 40; ++i) input += " 65";
      const testing::Decoded expected = testing::plainReading(input);
      for (const ScanKernel& kernel : usableKernels()) {
        for (std::size_t piece : {std::size_t{0}, std::size_t{100}, std::size_t{131}}) {
          ASSERT_EQ(testing::decodeInPieces(input, {piece}, kernel.scan), expected)
              << kernel.name << ", odd code \"" << odd << "\" at " << offset
              << ", pieces of " << piece;
        }
      }
    }
  }
}

// Every kernel, called straight, stops at a code boundary with out holding
// exactly the codes before it, whatever follows: the plain reading of what it
// consumed is its output, and with the plain reading of the rest, a digit
// added to both, the whole. From every start in random inputs, some dense with
// digit runs and every byte value, with sizes around the chunk sizes, in
// buffers exactly as large as the contract allows, so that the sanitizers see
// any stray access.
TEST(FastDecode, EveryKernelStopsAtACodeBoundary) {
  std::mt19937 rng(31);
  for (int i = 0; i < 60; ++i) {
    std::string input = randomInput(rng);
    if (i % 2 == 0) {
      input.resize(300);
      for (char& byte : input)
        byte =
            rng() % 16 == 0 ? static_cast<char>(rng()) : "0123456789 \r\n\t"[rng() % 14];
    }
    for (std::size_t from = 0; from < std::min<std::size_t>(input.size(), 130); ++from) {
      for (std::size_t size : {input.size() - from, std::size_t{63}, std::size_t{64},
                               std::size_t{65}, std::size_t{68}, std::size_t{69},
                               std::size_t{128}, std::size_t{129}, std::size_t{133}}) {
        if (size > input.size() - from) continue;
        const std::string raw = input.substr(from, size);
        const testing::Decoded whole = testing::plainReading("=+" + raw + '0');
        for (const ScanKernel& kernel : usableKernels()) {
          const std::vector<unsigned char> bytes(raw.begin(), raw.end());
          std::vector<unsigned char> out(size);
          const ScanResult got = kernel.scan(bytes.data(), size, out.data());
          ASSERT_TRUE(got.consumed <= size && got.written <= size) << kernel.name;
          testing::Decoded decoded =
              testing::plainReading("=+" + raw.substr(0, got.consumed));
          ASSERT_EQ(std::string(out.begin(), out.begin() + got.written), decoded.text)
              << kernel.name << ", input " << i << " from " << from << " size " << size;
          const testing::Decoded rest =
              testing::plainReading("=+" + raw.substr(got.consumed) + '0');
          decoded.text += rest.text;
          decoded.end = rest.end;
          decoded.code = rest.code;
          ASSERT_EQ(decoded, whole)
              << kernel.name << ", input " << i << " from " << from << " size " << size
              << ", stopped at " << got.consumed;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarvend
