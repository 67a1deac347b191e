// The one place that knows the operating system: command-line arguments, file
// descriptors opened in binary mode, file identity, and the standard streams.
// Nothing here prints or exits; failures come back as false or -1 with the
// system's reason in words.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/byte_stream.h"

namespace quarvend::platform {

// A file name as the operating system takes it: bytes on POSIX, UTF-16 on
// Windows, so that no name is ever narrowed or truncated on its way to open.
#ifdef _WIN32
using NativeName = std::wstring;
#else
using NativeName = std::string;
#endif

inline constexpr int kStandardOutput = 1;

// Makes the three standard descriptors safe to use: any of 0 to 2 that is
// closed gets the null device, so that no file the tool opens later can land
// on one of them, and standard output is put in binary mode where the C
// runtime would otherwise translate line ends. Returns false when standard
// output was closed at start, which the caller must treat as a failed output.
bool prepareStandardStreams();

// The file names given on the command line, without the program name.
std::vector<NativeName> commandLine(int argc, char** argv);

// The bytes that show `name` in a message on standard output: on POSIX the
// name's own bytes; on Windows the name in the console's output code page when
// standard output is a console (characters it lacks become '?'), else UTF-8.
std::string displayName(const NativeName& name);

// Opens an existing file for reading, in binary mode. Folders are refused.
// On Windows, names of any length are opened, however long their full path.
// Returns the descriptor, or -1 with the system's reason in `reason`.
int openForReading(const NativeName& name, std::string& reason);

// Opens `name` for writing in binary mode, creating it when it is missing but
// leaving an existing file's content alone (see emptyFile). Takes names of any
// length, as openForReading does. Returns the
// descriptor, or -1 with the system's reason in `reason`.
int openForWriting(const NativeName& name, std::string& reason);

// Cuts a regular file open for writing to 0 bytes; devices and pipes are left
// as they are. Returns false with the system's reason on failure.
bool emptyFile(int fd, std::string& reason);

// True when both descriptors refer to the same file (device and inode, or
// volume serial number and file index), however each was named.
bool sameFile(int first, int second);

// A source that reads a descriptor, retrying interrupted reads.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  std::ptrdiff_t read(unsigned char* buffer, std::size_t size) override;
  bool close() override;

 private:
  int fd_;
};

// A sink that writes a descriptor, retrying interrupted and partial writes.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  bool write(const unsigned char* data, std::size_t size) override;
  bool close() override;

 private:
  int fd_;
};

}  // namespace quarvend::platform
