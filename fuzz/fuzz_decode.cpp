// Fuzz target: the decoder, fed in pieces, and the tool's own input path on
// one to four threads, its reads failing part-way now and then, each with a
// kernel the processor runs, against the plain reading of the same bytes
// written from the format's rules (tests/support/plain_reading.h).
//
// The first kHeaderSize bytes set the stage, the rest is the ostrevic file:
//   [0], [1]  sizes of the pieces fed in turn (mostly small, so that piece
//             edges fall inside every token; 0xF0 and up: the whole rest)
//   [2]       the kernel, an index into the usable ones
//   [3]       threads: 1 to 4; block size: 1 to 64 times 8 bytes
//   [4]       where reads fail: 0 never, else from that many 256ths of the file on

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "support/plain_reading.h"

namespace {

constexpr std::size_t kHeaderSize = 5;

std::size_t pieceSize(unsigned selector) {
  return selector >= 0xF0 ? 0 : 1 + selector % 80;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvend;
  if (size < kHeaderSize) return 0;
  const std::string_view file(reinterpret_cast<const char*>(data + kHeaderSize),
                              size - kHeaderSize);
  const std::vector<std::size_t> pieces = {pieceSize(data[0]), pieceSize(data[1])};
  const ScanFunction scan = usableKernels()[data[2] % usableKernels().size()].scan;
  const testing::Decoded expected = testing::plainReading(file);
  fuzz::require(testing::decodeInPieces(file, pieces, scan) == expected,
                "decoder equals the plain reading");
  const unsigned threads = 1 + data[3] % 4;
  const std::size_t blockSize = 8 * (1 + data[3] / 4 % 64);
  const std::size_t failAt = data[4] == 0 ? file.size() : file.size() * data[4] / 256;
  fuzz::require(testing::decodeAsTheTool(file, blockSize, threads, scan, failAt) ==
                    testing::plainReading(file.substr(0, failAt), failAt < file.size()),
                "the tool's input path equals the plain reading of what it could read");
  return 0;
}
