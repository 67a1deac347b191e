// Choosing, once, which of a module's kernels this processor runs.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace quarvend::cpu {

// A kernel built into the program, with whether this processor runs it.
template <typename Kernel>
struct Candidate {
  Kernel kernel;
  bool (*usable)();
};

inline bool always() { return true; }

// The candidates this processor runs, in the order listed; room for all of
// them, so that any choice fits.
template <typename Kernel, std::size_t N>
class UsableKernels {
 public:
  explicit UsableKernels(const Candidate<Kernel> (&candidates)[N]) {
    for (const Candidate<Kernel>& candidate : candidates)
      if (candidate.usable()) list_[count_++] = candidate.kernel;
  }
  std::span<const Kernel> kernels() const { return {list_.data(), count_}; }

 private:
  std::array<Kernel, N> list_{};
  std::size_t count_ = 0;
};

}  // namespace quarvend::cpu
