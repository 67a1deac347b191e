// Helpers shared by the fuzz targets: failing loudly, and the DOS text view of
// raw input that the readers see.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quarvend::fuzz {

// Stops the run with a libFuzzer-visible crash when `ok` is false; `what`
// names the broken invariant in the crash log.
inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// What a reader of DOS text delivers from `raw`: every carriage return
// dropped, everything from the first Ctrl-Z on cut off.
struct DosText {
  std::string text;
  // rawConsumed[i] is how many raw bytes a byte-at-a-time reader has taken
  // when it delivers text[i]; rawConsumed[text.size()] is how many it has
  // taken once it reports the end (the Ctrl-Z included).
  std::vector<std::size_t> rawConsumed;
};

inline DosText dosTextOf(std::string_view raw) {
  DosText dos;
  std::size_t i = 0;
  for (; i < raw.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(raw[i]);
    if (byte == 13) continue;
    if (byte == 26) {
      ++i;
      break;
    }
    dos.text.push_back(static_cast<char>(byte));
    dos.rawConsumed.push_back(i + 1);
  }
  dos.rawConsumed.push_back(i);
  return dos;
}

}  // namespace quarvend::fuzz
