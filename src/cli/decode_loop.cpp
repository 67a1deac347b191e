#include "cli/decode_loop.h"

namespace quarvend {

DecodeEnd decodeAll(EncodedReader& reader, const SymbolTable& table, DosTextWriter* file,
                    DosTextWriter& console) {
  std::int32_t code;
  while (reader.nextCode(code)) {
    if (code < 0 || code >= SymbolTable::kSize) return DecodeEnd::kCodeOutOfRange;
    const unsigned char byte = table.byteFor(code);
    if (file != nullptr) file->put(byte);
    console.put(byte);
  }
  return DecodeEnd::kEndOfList;
}

}  // namespace quarvend
