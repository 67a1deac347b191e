// Which scan kernels this processor runs: the one place that asks it.
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
    // Exactly the extensions scan_avx512.cpp is built for; the processor
    // check also covers the system's saving of the wider registers.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
        __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
        __builtin_cpu_supports("popcnt")) {
      found.add("avx512", scanCodesAvx512);
    }
    found.add("sse2", scanCodesSse2);
#endif
    found.add("portable", scanCodesPortable);
    return found;
  }();
  return {kernels.list.data(), kernels.count};
}

}  // namespace quarvend
