// Which scan kernels this processor runs: the one place that chooses them.
#include <array>

#include "decode/code_scanner.h"

namespace quarvend {

namespace {

bool always() { return true; }

// Every kernel built, fastest first, with whether this processor runs it.
struct Candidate {
  ScanKernel kernel;
  bool (*usable)();
};
constexpr Candidate kCandidates[] = {
#if QUARVEND_X86_KERNELS
    {{"avx512", scanCodesAvx512}, cpu::avx512Usable},
    {{"sse2", scanCodesSse2}, always},
#endif
    {{"portable", scanCodesPortable}, always},
};

}  // namespace

std::span<const ScanKernel> usableKernels() {
  // Room for every candidate, so that any list of them fits.
  struct Kernels {
    std::array<ScanKernel, std::size(kCandidates)> list{};
    std::size_t count = 0;
  };
  static const Kernels kernels = [] {
    Kernels found;
    for (const Candidate& candidate : kCandidates)
      if (candidate.usable()) found.list[found.count++] = candidate.kernel;
    return found;
  }();
  return {kernels.list.data(), kernels.count};
}

}  // namespace quarvend
