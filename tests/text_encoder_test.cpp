// The encoder: the round trip on random texts fed in random pieces, the exact
// file where the round trip leaves room, and where it stops at each byte
// without a code.

#include "encode/text_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/round_trip.h"

namespace quarvend {
namespace {

using testing::encodeInPieces;

TEST(TextEncoderTest, RandomTextsComeBack) {
  std::string alphabet(1, '\0');
  for (int code = 1; code <= 190; ++code)
    alphabet += static_cast<char>(testing::plainByteFor(code));
  // Every fourth text has only bytes 1 to 127, whose codes are short.
  std::string shortCoded;
  for (const char byte : alphabet)
    if (byte > 0) shortCoded += byte;
  std::mt19937 random(18);
  for (int round = 0; round < 400; ++round) {
    const std::string& from = round % 4 == 1 ? shortCoded : alphabet;
    std::string text;
    const std::size_t size = random() % (round % 8 == 0 ? 4000 : 300);
    while (text.size() < size) {
      const unsigned pick = random() % 40;
      if (pick == 0) text += "\r\n";
      if (pick == 1) text += '\n';
      if (pick == 2 && round % 5 == 0) text += '\x1A';
      if (pick > 2) text += from[random() % from.size()];
    }
    const std::vector<std::size_t> encodePieces = {1 + random() % 7, 1 + random() % 90,
                                                   0};
    EXPECT_EQ(testing::roundTripFault(text, encodePieces, {1 + random() % 50}), "")
        << round;
  }
}

// Byte 0 has many codes; a line of exactly 76 characters stays one line.
TEST(TextEncoderTest, ExactFiles) {
  std::string full = "27";  // with " 1", 25 times "27" make exactly 76 characters
  for (int i = 1; i < 25; ++i) full += " 27";
  const std::pair<std::string, std::string> rows[] = {
      {std::string("a\0", 2), "=+\r\n27 191\r\n"},
      {std::string(25, 'a') + "AB", "=+\r\n" + full + " 1\r\n2\r\n"},
  };
  for (const auto& [text, file] : rows) {
    TextEncoder encoder;
    EXPECT_EQ(encodeInPieces(text, {0}, encoder), file);
  }
}

TEST(TextEncoderTest, StopsAtEachByteWithoutACode) {
  struct Row {
    std::string before;  // the text before the byte
    std::string rest;    // the byte and what follows it
    std::uint64_t line;
    std::uint64_t column;
  };
  std::vector<Row> rows = {
      {"ab\ncd", "\r", 2, 3},      // a carriage return at the end of the text
      {"ab\ncd", "\r\x1A", 2, 3},  // before a Ctrl-Z
      {"ab\ncd", "\r\r\n", 2, 3},  // before another one
      {std::string(300, 'a') + "\r\n" + std::string(200, 'b'), "\x7F", 2, 201},
      // last in a 63-byte step of the widest kernel, the byte after it coded
      {std::string(62, 'a'), "\rb" + std::string(90, 'f'), 1, 63},
  };
  for (int byte = 0; byte < 256; ++byte) {
    const std::string rest(1, static_cast<char>(byte));
    // The random texts of the round trip hold every byte that has a code.
    const bool noCode = (byte >= 1 && byte <= 31 && byte != '\n' && byte != '\x1A') ||
                        (byte >= 127 && byte <= 160);
    // Long enough on both sides for every kernel's widest steps.
    if (noCode)
      rows.push_back(
          {std::string(90, 'x') + "ab\r\ncd", rest + std::string(90, 'f'), 2, 3});
  }
  for (const Row& row : rows) {
    TextEncoder before;
    const std::string prefix = encodeInPieces(row.before, {0}, before);
    for (const EncodeKernel& kernel : usableEncodeKernels()) {
      for (std::size_t piece : {1, 3, 0}) {
        TextEncoder encoder(kernel);
        const std::string file = encodeInPieces(row.before + row.rest, {piece}, encoder);
        const int byte = static_cast<unsigned char>(row.rest[0]);
        const std::string where =
            kernel.name + (" " + std::to_string(byte)) + " " + std::to_string(piece);
        ASSERT_EQ(encoder.stage(), TextEncoder::Stage::kNoCode) << where;
        EXPECT_EQ(encoder.uncodedByte(), byte);
        EXPECT_EQ(encoder.uncodedAt().line, row.line) << where;
        EXPECT_EQ(encoder.uncodedAt().column, row.column) << where;
        // The codes before the byte, and not even the line end after them.
        EXPECT_EQ(file + "\r\n", prefix) << where;
      }
    }
  }
}

}  // namespace
}  // namespace quarvend
