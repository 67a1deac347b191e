// Opening an output file so that no file of the user's is harmed: a file is
// only emptied once it is known not to be the input.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quarvend {

enum class OutputFileOpening {
  kOpened,        // open for writing, and empty
  kCannotCreate,  // it cannot be opened, compared or emptied; see the reason
  kSameAsInput,   // it is the input file, under this or another name
};

// Opens `name` for writing, creating it when missing, and leaves an existing
// file's content alone until it is known not to be the file open on
// `inputFd`; only then is it emptied. On kOpened `fd` is the open, empty
// file; on anything else an existing file is unchanged, and `fd` (which may be
// open) is only good for ending the run.
OutputFileOpening openOutputFile(const platform::NativeName& name, int inputFd, int& fd,
                                 std::string& reason);

}  // namespace quarvend
