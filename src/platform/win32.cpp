// The platform layer on Windows, through the C runtime's descriptors.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/os.h"
#include "platform/platform.h"

namespace quarvend::platform {

using os::setReason;

namespace {

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// The code page names are shown in: the console's own when standard output
// is a console, so that the characters it can show appear as themselves;
// UTF-8 otherwise, since a file or pipe has no code page of its own and UTF-8
// loses no name.
UINT codePageForNames() {
  DWORD mode = 0;
  if (GetConsoleMode(handleOf(kStandardOutput), &mode)) {
    const UINT console = GetConsoleOutputCP();
    if (console != 0) return console;
  }
  return CP_UTF8;
}

// The name to open `name` by. Past MAX_PATH characters, counted as an
// absolute path, only the \\?\ form reaches the file, and that form is taken
// literally, so it is built from the full path that Windows itself would have
// made of `name` (separators turned round, "." and ".." resolved).
NativeName openableName(const NativeName& name) {
  if (name.rfind(LR"(\\?\)", 0) == 0 || name.rfind(LR"(\\.\)", 0) == 0) return name;
  const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (size < MAX_PATH) return name;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return name;
  full.resize(length);
  if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

// The errno for a Windows error met by a read or a file query, so that its
// reason reads like those of the C runtime's calls: the C runtime's words
// where it has them, and EIO, as on POSIX, for the faults of a disk or a
// network, to which it gives none that fits.
int errnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_BROKEN_PIPE:
      return EPIPE;
    default:
      return EIO;
  }
}

// What tells one disk file from every other: its volume's serial number and
// its number on that volume.
struct DiskFileId {
  ULONGLONG volume = 0;
  FILE_ID_128 file{};
};

// Reads the identity of the disk file open on `handle`. The 128-bit form is
// asked for first: Wine gives it for a file the shell opened (a redirection),
// where the older call fails with ERROR_INVALID_HANDLE; the older one serves
// file systems and Windows versions without the newer. Sets `error` on failure.
bool diskFileId(HANDLE handle, DiskFileId& id, DWORD& error) {
  FILE_ID_INFO info{};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info)) {
    id.volume = info.VolumeSerialNumber;
    id.file = info.FileId;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION older{};
  if (!GetFileInformationByHandle(handle, &older)) {
    error = GetLastError();
    return false;
  }
  id.volume = older.dwVolumeSerialNumber;
  const ULONGLONG index = (ULONGLONG{older.nFileIndexHigh} << 32) | older.nFileIndexLow;
  std::memcpy(id.file.Identifier, &index, sizeof index);
  return true;
}

// Opens `name`. The C runtime refuses a folder as it does a file it may not
// use; the folder is told as one, as on POSIX.
bool openWith(const NativeName& name, int flags, int& fd, std::string& reason) {
  fd = -1;
  const NativeName openable = openableName(name);
  const errno_t error = _wsopen_s(&fd, openable.c_str(), flags | _O_BINARY, _SH_DENYNO,
                                  _S_IREAD | _S_IWRITE);
  if (error == 0) return true;
  const DWORD attributes = GetFileAttributesW(openable.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  setReason(reason, error == EACCES && folder ? EISDIR : error);
  return false;
}

}  // namespace

// Windows has no signal for a broken pipe: a write to one always fails.
StandardStreams prepareStandardStreams(BrokenPipe) {
  StandardStreams streams;
  for (int fd = 0; fd <= 2; ++fd) {
    // A stream the process was started without (a null standard handle)
    // shows as -1 in msvcrt but as -2 in the Universal C runtime.
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) {
      if (fd == kStandardInput) streams.inputOpen = false;
      if (fd == kStandardOutput) streams.outputOpen = false;
      const int nul = _wopen(L"NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
      if (nul >= 0 && nul != fd) {
        _dup2(nul, fd);
        _close(nul);
      }
    }
  }
  _setmode(kStandardInput, _O_BINARY);
  _setmode(kStandardOutput, _O_BINARY);
  _setmode(kStandardError, _O_BINARY);
  return streams;
}

std::vector<NativeName> commandLine(int, char**) {
  std::vector<NativeName> names;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return names;
  for (int i = 1; i < count; ++i) names.emplace_back(words[i]);
  LocalFree(words);
  return names;
}

std::string displayName(const NativeName& name) {
  if (name.empty()) return {};
  const UINT codePage = codePageForNames();
  const int wide = static_cast<int>(name.size());
  const int size =
      WideCharToMultiByte(codePage, 0, name.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(codePage, 0, name.data(), wide, bytes.data(), size, nullptr,
                        nullptr);
  }
  return bytes;
}

bool openForReading(const NativeName& name, int& fd, std::string& reason) {
  return openWith(name, _O_RDONLY, fd, reason);
}

bool openForWriting(const NativeName& name, int& fd, std::string& reason) {
  return openWith(name, _O_WRONLY | _O_CREAT, fd, reason);
}

bool emptyFile(int fd, std::string& reason) {
  if (GetFileType(handleOf(fd)) != FILE_TYPE_DISK) return true;
  const errno_t error = _chsize_s(fd, 0);
  if (error == 0) return true;
  setReason(reason, error);
  return false;
}

bool sameFile(int first, int second, bool& same, std::string& reason) {
  // A console, pipe or device has no file index, and is no file on disk.
  same = false;
  if (GetFileType(handleOf(first)) != FILE_TYPE_DISK ||
      GetFileType(handleOf(second)) != FILE_TYPE_DISK) {
    return true;
  }
  DiskFileId a;
  DiskFileId b;
  DWORD error = 0;
  if (!diskFileId(handleOf(first), a, error) || !diskFileId(handleOf(second), b, error)) {
    setReason(reason, errnoFor(error));
    return false;
  }
  // Wine gives a file the shell opened the volume serial number 0, so a
  // volume of 0 matches any: two files alike in number alone are taken for
  // one, which can only refuse a run, never harm a file.
  same = std::memcmp(&a.file, &b.file, sizeof a.file) == 0 &&
         (a.volume == b.volume || a.volume == 0 || b.volume == 0);
  return true;
}

bool closeFile(int fd, std::string& reason) {
  if (_close(fd) == 0) return true;
  setReason(reason, errno);
  return false;
}

bool isRegularFile(int fd, std::uint64_t& size) {
  LARGE_INTEGER length{};
  if (GetFileType(handleOf(fd)) != FILE_TYPE_DISK ||
      !GetFileSizeEx(handleOf(fd), &length)) {
    return false;
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

unsigned usableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  return 1;
}

int currentProcessor() { return static_cast<int>(GetCurrentProcessorNumber()); }

namespace os {

// Both ways of reading go through ReadFile, so that a failure carries the
// same words on one thread and on several. At an offset, ReadFile reads there
// on a handle opened for plain (synchronous) access.
Step readOnce(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD count = 0;
  if (ReadFile(handleOf(fd), buffer, static_cast<DWORD>(size), &count,
               offset == kFilePosition ? nullptr : &at)) {
    got = count;
    return Step::kDone;
  }
  // The end of the file read at an offset, or of a pipe whose writer left.
  const DWORD error = GetLastError();
  if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
    got = 0;
    return Step::kDone;
  }
  setReason(reason, errnoFor(error));
  return Step::kFailed;
}

// Through WriteFile, so that a failure is told in the words a read's would
// be. A pipe whose reader has left fails with ERROR_NO_DATA, the pipe being
// closed (under Wine: ERROR_PIPE_NOT_CONNECTED), a broken pipe to a writer.
Step writeOnce(int fd, const unsigned char* data, std::size_t size, std::size_t& written,
               std::string& reason) {
  DWORD count = 0;
  if (!WriteFile(handleOf(fd), data, static_cast<DWORD>(size), &count, nullptr)) {
    const DWORD error = GetLastError();
    const bool broken = error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
    setReason(reason, broken ? EPIPE : errnoFor(error));
    return Step::kFailed;
  }
  // A write that stores nothing without an error would only repeat itself.
  if (count == 0) {
    setReason(reason, ENOSPC);
    return Step::kFailed;
  }
  written = count;
  return Step::kDone;
}

// A Windows pipe in no-wait mode has nothing to wait on for room, so the
// writer yields the processor and tries again.
bool waitWritable(int, std::string&) {
  Sleep(1);
  return true;
}

}  // namespace os
}  // namespace quarvend::platform
