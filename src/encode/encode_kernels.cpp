// Which encoding kernels this processor runs: the one place that chooses them.
#include "encode/encode_kernels.h"

#include "cpu/kernels.h"

namespace quarvend {

namespace {

// Every kernel built, fastest first.
constexpr cpu::Candidate<EncodeKernel> kCandidates[] = {
#if QUARVEND_X86_KERNELS
    {{"avx512", encodeRunAvx512, countLineFeedsAvx512}, cpu::avx512Usable},
#endif
    {{"portable", encodeRunPortable, countLineFeedsPortable}, cpu::always},
};

}  // namespace

std::span<const EncodeKernel> usableEncodeKernels() {
  static const cpu::UsableKernels kernels(kCandidates);
  return kernels.kernels();
}

}  // namespace quarvend
