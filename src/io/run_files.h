// Opening a run's files so that no file of the user's is harmed: the input
// is only read, and an output file is only emptied once it is known to be
// neither the input nor standard output. Both programs take these steps.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace quarvend {

// What a run does with standard output, which must then not be the input.
enum class StandardOutputUse {
  kUnused,
  kWritten,
  kWrittenButClosed,  // it is to be written, but was closed at the start
};

// How opening a run's files ended: the first step that failed, or kOpened.
enum class RunFilesOpening {
  kOpened,
  kInputCannotOpen,        // see the reason
  kStandardOutputClosed,   // for kWrittenButClosed
  kInputUntellable,        // it cannot be compared with standard output; see the reason
  kInputIsStandardOutput,  // the text written would land in the input
  kInputCannotRead,        // its first block; see the reason
  kOutputCannotCreate,     // it cannot be opened, compared or emptied; see the reason
  kOutputIsInput,
  kOutputIsStandardOutput,
};

struct RunFiles {
  int input = platform::kStandardInput;
  int output = platform::kStandardOutput;  // the output file's, once opened
  std::size_t firstSize = 0;               // how much of the first block was read
};

// The steps in order: opens `input` (standard input when null), checks that
// standard output is not the input where `use` writes it, reads the first
// block into block[0..blockSize), and only then opens the `output` file when
// one is named, creating it when missing. An existing output file is emptied
// only on kOpened, and is otherwise unchanged. `files` holds what was opened
// so far, whatever the result.
RunFilesOpening openRunFiles(const platform::NativeName* input,
                             const platform::NativeName* output, StandardOutputUse use,
                             unsigned char* block, std::size_t blockSize, RunFiles& files,
                             std::string& reason);

}  // namespace quarvend
