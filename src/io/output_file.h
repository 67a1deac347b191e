// Opening an output file so that no file of the user's is harmed: a file is
// only emptied once it is known to be neither the input nor standard output.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quarvend {

enum class OutputFileOpening {
  kOpened,                // open for writing, and empty
  kCannotCreate,          // it cannot be opened, compared or emptied; see the reason
  kSameAsInput,           // it is the input file, under this or another name
  kSameAsStandardOutput,  // standard output already writes to it
};

// Opens `name` for writing, creating it when missing, and leaves an existing
// file's content alone until it is known to be neither the file open on
// `inputFd` nor the one on `standardOutputFd`; only then is it emptied. On
// kOpened `fd` is the open, empty file; on anything else an existing file is
// unchanged, and `fd` (which may be open) is only good for ending the run.
OutputFileOpening openOutputFile(const platform::NativeName& name, int inputFd,
                                 int standardOutputFd, int& fd, std::string& reason);

}  // namespace quarvend
