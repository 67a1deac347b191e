#include "decode/symbol_table.h"

namespace quarvend {

void SymbolTable::build() {
  entries_.fill(0);
  std::size_t next = 0;
  // Each group starts where the one before it ended; its terminating zero is
  // overwritten by the next group, and the last one's stays, as do all after.
  for (std::string_view group : kSymbolGroups) {
    for (char symbol : group) entries_[next++] = static_cast<unsigned char>(symbol);
  }
}

}  // namespace quarvend
