// The decode loop: codes in, bytes out to every writer.
#pragma once

#include "cli/dos_text_writer.h"
#include "decode/encoded_reader.h"
#include "decode/symbol_table.h"

namespace quarvend {

enum class DecodeEnd {
  kEndOfList,       // the number list ended as the format allows
  kCodeOutOfRange,  // a code outside 0 to 255 stopped the decoding
};

// Reads every code after the start marker and writes its byte to `file` (when
// not null) and then to `console`, until the list ends or a code falls outside
// the table. Nothing is written for an out-of-range code.
DecodeEnd decodeAll(EncodedReader& reader, const SymbolTable& table, DosTextWriter* file,
                    DosTextWriter& console);

}  // namespace quarvend
