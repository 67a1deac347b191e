#include "io/output_file.h"

namespace quarvend {

OutputFileOpening openOutputFile(const platform::NativeName& name, int inputFd,
                                 int standardOutputFd, int& fd, std::string& reason) {
  if (!platform::openForWriting(name, fd, reason))
    return OutputFileOpening::kCannotCreate;
  bool input = true;
  bool standardOutput = true;
  if (!platform::sameFile(inputFd, fd, input, reason) ||
      !platform::sameFile(standardOutputFd, fd, standardOutput, reason)) {
    return OutputFileOpening::kCannotCreate;
  }
  if (input) return OutputFileOpening::kSameAsInput;
  if (standardOutput) return OutputFileOpening::kSameAsStandardOutput;
  if (!platform::emptyFile(fd, reason)) return OutputFileOpening::kCannotCreate;
  return OutputFileOpening::kOpened;
}

}  // namespace quarvend
