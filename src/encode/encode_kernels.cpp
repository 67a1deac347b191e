// Which encoding kernels this processor runs: the one place that chooses them.
#include "encode/encode_kernels.h"

#include <array>

namespace quarvend {

std::span<const EncodeKernel> usableEncodeKernels() {
  struct Kernels {
    std::array<EncodeKernel, 2> list{};
    std::size_t count = 0;
    void add(const char* name, EncodeFunction encode) { list[count++] = {name, encode}; }
  };
  static const Kernels kernels = [] {
    Kernels found;
#if QUARVEND_X86_KERNELS
    if (cpu::avx512Usable()) found.add("avx512", encodeRunAvx512);
#endif
    found.add("portable", encodeRunPortable);
    return found;
  }();
  return {kernels.list.data(), kernels.count};
}

}  // namespace quarvend
