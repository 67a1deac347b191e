#include "io/output_file.h"

namespace quarvend {

OutputFileOpening openOutputFile(const platform::NativeName& name, int inputFd, int& fd,
                                 std::string& reason) {
  if (!platform::openForWriting(name, fd, reason))
    return OutputFileOpening::kCannotCreate;
  bool same = true;
  OutputFileOpening result = OutputFileOpening::kCannotCreate;
  if (platform::sameFile(inputFd, fd, same, reason)) {
    result = same ? OutputFileOpening::kSameAsInput : OutputFileOpening::kOpened;
  }
  if (result == OutputFileOpening::kOpened && !platform::emptyFile(fd, reason)) {
    result = OutputFileOpening::kCannotCreate;
  }
  return result;
}

}  // namespace quarvend
