#include "cli/decode_loop.h"

#include <algorithm>

#include "decode/code_scanner.h"

namespace quarvend {
namespace {

// After a scan that decoded fewer codes than this, the scanner is not worth
// its setup here, and a stretch of codes is read the plain way before it is
// tried again. The stretch starts short, so that a lone sign or long code
// costs little, and doubles with every scan in a row that falls short, so
// that inputs full of them decode about as fast as code by code.
constexpr std::size_t kWorthwhileScan = 8;
constexpr std::size_t kShortestPlainStretch = 16;
constexpr std::size_t kLongestPlainStretch = std::size_t{1} << 16;

CodeOutputTable makeCodeOutputs(const SymbolTable& table) {
  CodeOutputTable outputs{};
  for (int code = 0; code < SymbolTable::kSize; ++code) {
    CodeOutput& output = outputs[static_cast<std::size_t>(code)];
    output.size = static_cast<unsigned char>(
        DosTextWriter::onDiskForm(table.byteFor(code), output.bytes));
  }
  return outputs;
}

}  // namespace

DecodeEnd decodeAll(EncodedReader& reader, const SymbolTable& table, DosTextWriter* file,
                    DosTextWriter& console) {
  const CodeOutputTable outputs = makeCodeOutputs(table);
  // The scanner writes into the first writer's buffer; the same bytes are
  // then copied to the console. Both get every byte before either flushes,
  // and flushes only happen in put, so each sink sees the same writes, in the
  // same order, as when every byte goes through put.
  DosTextWriter& lead = file != nullptr ? *file : console;
  std::size_t plainStretch = kShortestPlainStretch;  // the next stretch's length

  for (;;) {
    std::size_t plainCodes = 1;  // codes to read the plain way before the next scan
    if (reader.atRawCodeBoundary()) {
      std::size_t room = lead.room();
      if (file != nullptr) room = std::min(room, console.room());
      const std::size_t codeRoom = room / DosTextWriter::kMaxFormSize;
      if (codeRoom >= kMaxCodesPerChunk) {
        unsigned char* const out = lead.freeSpace();
        const ScanResult scan =
            scanCodes(reader.rawBegin(), reader.rawSize(), outputs, out, codeRoom);
        reader.skipRaw(scan.consumed);
        lead.commit(scan.written);
        if (file != nullptr) console.putOnDisk(out, scan.written);
        if (scan.codes >= kWorthwhileScan) {
          plainStretch = kShortestPlainStretch;
          continue;
        }
        plainCodes = plainStretch;
        plainStretch = std::min(2 * plainStretch, kLongestPlainStretch);
      }
    }

    for (; plainCodes > 0; --plainCodes) {
      std::int32_t code;
      if (!reader.nextCode(code)) return DecodeEnd::kEndOfList;
      if (code < 0 || code >= SymbolTable::kSize) return DecodeEnd::kCodeOutOfRange;
      const unsigned char byte = table.byteFor(code);
      if (file != nullptr) file->put(byte);
      console.put(byte);
    }
  }
}

}  // namespace quarvend
