// Which scan kernels this processor runs: the one place that chooses them.
#include <array>

#include "decode/code_scanner.h"

namespace quarvend {

std::span<const ScanKernel> usableKernels() {
  struct Kernels {
    std::array<ScanKernel, 3> list{};
    std::size_t count = 0;
    void add(const char* name, ScanFunction scan) { list[count++] = {name, scan}; }
  };
  static const Kernels kernels = [] {
    Kernels found;
#if QUARVEND_X86_KERNELS
    if (scanCodesAvx512Usable()) found.add("avx512", scanCodesAvx512);
    found.add("sse2", scanCodesSse2);
#endif
    found.add("portable", scanCodesPortable);
    return found;
  }();
  return {kernels.list.data(), kernels.count};
}

}  // namespace quarvend
