// Failing loudly from a fuzz target.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quarvend::fuzz {

// Stops the run with a libFuzzer-visible crash when `ok` is false; `what`
// names the broken invariant in the crash log.
inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace quarvend::fuzz
