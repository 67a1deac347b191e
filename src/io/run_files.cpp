#include "io/run_files.h"

#include "io/byte_source.h"

namespace quarvend {

namespace {

// Opens `name` for writing and leaves an existing file's content alone until
// it is known to be neither the file open on `inputFd` nor standard output.
RunFilesOpening openOutputFile(const platform::NativeName& name, int inputFd, int& fd,
                               std::string& reason) {
  if (!platform::openForWriting(name, fd, reason))
    return RunFilesOpening::kOutputCannotCreate;
  bool input = true;
  bool standardOutput = true;
  if (!platform::sameFile(inputFd, fd, input, reason) ||
      !platform::sameFile(platform::kStandardOutput, fd, standardOutput, reason)) {
    return RunFilesOpening::kOutputCannotCreate;
  }
  if (input) return RunFilesOpening::kOutputIsInput;
  if (standardOutput) return RunFilesOpening::kOutputIsStandardOutput;
  if (!platform::emptyFile(fd, reason)) return RunFilesOpening::kOutputCannotCreate;
  return RunFilesOpening::kOpened;
}

}  // namespace

RunFilesOpening openRunFiles(const platform::NativeName* input,
                             const platform::NativeName* output, StandardOutputUse use,
                             unsigned char* block, std::size_t blockSize, RunFiles& files,
                             std::string& reason) {
  if (input && !platform::openForReading(*input, files.input, reason))
    return RunFilesOpening::kInputCannotOpen;
  if (use == StandardOutputUse::kWrittenButClosed)
    return RunFilesOpening::kStandardOutputClosed;
  if (use == StandardOutputUse::kWritten) {
    bool same = true;
    if (!platform::sameFile(files.input, platform::kStandardOutput, same, reason))
      return RunFilesOpening::kInputUntellable;
    if (same) return RunFilesOpening::kInputIsStandardOutput;
  }
  // Read before the output file is touched, so that an input that cannot be
  // read costs no file its content.
  if (!FileSource(files.input).read(block, blockSize, files.firstSize, reason))
    return RunFilesOpening::kInputCannotRead;
  if (!output) return RunFilesOpening::kOpened;
  return openOutputFile(*output, files.input, files.output, reason);
}

}  // namespace quarvend
