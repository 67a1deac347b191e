// Which scan kernels this processor runs: the one place that chooses them.
#include "cpu/kernels.h"
#include "decode/code_scanner.h"

namespace quarvend {

namespace {

// Every kernel built, fastest first.
constexpr cpu::Candidate<ScanKernel> kCandidates[] = {
#if QUARVEND_X86_KERNELS
    {{"avx512", scanCodesAvx512}, cpu::avx512Usable},
    {{"sse2", scanCodesSse2}, cpu::always},
#endif
    {{"portable", scanCodesPortable}, cpu::always},
};

}  // namespace

std::span<const ScanKernel> usableKernels() {
  static const cpu::UsableKernels kernels(kCandidates);
  return kernels.kernels();
}

}  // namespace quarvend
