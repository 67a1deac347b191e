// The one place that knows the operating system: the command line, files
// opened in binary mode, file identity, and the standard streams. Nothing here
// prints or exits. Every operation that can fail returns false and stores the
// system's reason, in words, in `reason`, in place: a string reserved before
// the run touches any file takes it without allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvend::platform {

// A file name as the operating system takes it: bytes on POSIX, UTF-16 on
// Windows, so that no name is ever narrowed or truncated on its way to open.
#ifdef _WIN32
using NativeName = std::wstring;
#else
using NativeName = std::string;
#endif

// Room for the system's words for any failure, so that a reason can be kept
// without allocating.
inline constexpr std::size_t kReasonCapacity = 256;

// Whether wildcards in the command line reach the program as they were typed:
// the Windows console leaves them to each program, a POSIX shell expands them.
#ifdef _WIN32
inline constexpr bool kWildcardsReachTheProgram = true;
#else
inline constexpr bool kWildcardsReachTheProgram = false;
#endif

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// What a write to a pipe whose reader has left does to the process.
enum class BrokenPipe {
  kFailsTheWrite,  // the write fails with the system's reason, like any other
  kAsInherited,    // as the parent process left it: where there are signals, by
                   // default SIGPIPE ends the process quietly, as it does a filter
};

// Which of the standard streams the process was started with.
struct StandardStreams {
  bool inputOpen = true;
  bool outputOpen = true;
};

// Makes the three standard descriptors safe to use: any of 0 to 2 that is
// closed gets the null device, so that no file the tool opens later can land
// on one of them, and the three standard streams are put in binary mode where
// the C runtime would otherwise translate line ends and stop at a Ctrl-Z. A
// file-size limit makes a write fail instead of ending the process, and a
// broken pipe does what `brokenPipe` says. Says which streams were closed at
// start: the caller must treat them as failed, since the null device stands in.
StandardStreams prepareStandardStreams(BrokenPipe brokenPipe);

// The file names given on the command line, without the program name.
std::vector<NativeName> commandLine(int argc, char** argv);

// The bytes that show `name` in a message on standard output: on POSIX the
// name's own bytes; on Windows the name in the console's output code page when
// standard output is a console (characters it lacks become '?'), else UTF-8.
std::string displayName(const NativeName& name);

// Opens an existing file for reading, in binary mode; folders are refused.
// Names of any length are taken, however long their full path.
bool openForReading(const NativeName& name, int& fd, std::string& reason);

// Opens `name` for writing in binary mode, creating it when it is missing but
// leaving an existing file's content alone (see emptyFile).
bool openForWriting(const NativeName& name, int& fd, std::string& reason);

// Cuts a regular file open for writing to 0 bytes; devices and pipes are left
// as they are.
bool emptyFile(int fd, std::string& reason);

// Sets `same` to whether both descriptors refer to one regular file (on
// Windows: one disk file), however each was named; a terminal, pipe or device
// is never the same as anything, since writing to it cannot change a file.
// Fails, with the reason, only when a regular file's identity cannot be read.
bool sameFile(int first, int second, bool& same, std::string& reason);

// Reads up to `size` bytes into `buffer`, retrying interrupted reads; `got` is
// 0 at the end of the file.
bool readSome(int fd, unsigned char* buffer, std::size_t size, std::size_t& got,
              std::string& reason);

// Reads up to `size` bytes from `offset` (the file position may move, and is
// not to be relied on after), retrying interrupted and short reads; `got` is
// less than `size` only at the end of the file or when a read fails, and then
// buffer[0..got) holds what was read before the failure.
bool readAt(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
            std::size_t& got, std::string& reason);

// Writes all of data[0..size): interrupted writes are retried, short ones
// continued, and a descriptor that would block is waited for.
bool writeAll(int fd, const unsigned char* data, std::size_t size, std::string& reason);

bool closeFile(int fd, std::string& reason);

// Whether `fd` is open on a regular file, and then its size in `size`.
bool isRegularFile(int fd, std::uint64_t& size);

// How many processors this process may run on, at least 1.
unsigned usableProcessors();

// The processor the calling thread runs on just now, or -1 when unknown.
int currentProcessor();

}  // namespace quarvend::platform
