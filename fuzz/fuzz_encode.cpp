// Fuzz target: the round trip (tests/support/round_trip.h). Bytes [0] and [1]
// are the sizes of the pieces the encoder is fed in turn, [2] those of the
// decoder's (0xF0 and up: the whole rest); the rest is the text, in which a
// byte without a code stands for a line end: CR LF for a carriage return,
// else LF.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "support/round_trip.h"

namespace {

std::size_t pieceSize(unsigned selector) {
  return selector >= 0xF0 ? 0 : 1 + selector % 80;
}

const std::array<bool, 256> kHasCode = [] {
  std::array<bool, 256> has{};
  for (int code = 0; code <= 191; ++code)
    has[quarvend::testing::plainByteFor(code)] = true;
  return has;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  std::string text;
  for (std::size_t i = 3; i < size; ++i) {
    if (kHasCode[data[i]] || data[i] == '\x1A') {
      text += static_cast<char>(data[i]);
    } else {
      text += data[i] == '\r' ? "\r\n" : "\n";
    }
  }
  const std::string fault = quarvend::testing::roundTripFault(
      text, {pieceSize(data[0]), pieceSize(data[1])}, {pieceSize(data[2])});
  quarvend::fuzz::require(fault.empty(), fault.c_str());
  return 0;
}
