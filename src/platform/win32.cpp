// The platform layer on Windows, through the C runtime's descriptors.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

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

bool openWith(const NativeName& name, int flags, int& fd, std::string& reason) {
  fd = -1;
  const errno_t error = _wsopen_s(&fd, openableName(name).c_str(), flags | _O_BINARY,
                                  _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (error == 0) return true;
  setReason(reason, error);
  return false;
}

}  // namespace

bool prepareStandardStreams() {
  bool outputOpen = true;
  for (int fd = 0; fd <= 2; ++fd) {
    // A stream the process was started without (a null standard handle)
    // shows as -1 in msvcrt but as -2 in the Universal C runtime.
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) {
      if (fd == kStandardOutput) outputOpen = false;
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
  return outputOpen;
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
  if (GetFileType(handleOf(first)) != FILE_TYPE_DISK ||
      GetFileType(handleOf(second)) != FILE_TYPE_DISK) {
    same = false;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!GetFileInformationByHandle(handleOf(first), &a) ||
      !GetFileInformationByHandle(handleOf(second), &b)) {
    setReason(reason, EACCES);
    return false;
  }
  same = a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
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

namespace os {

// At an offset, ReadFile reads there on a handle opened for plain
// (synchronous) access.
Step readOnce(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason) {
  if (offset == kFilePosition) {
    return stepAfter(_read(fd, buffer, static_cast<unsigned>(size)), got, reason);
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD count = 0;
  if (ReadFile(handleOf(fd), buffer, static_cast<DWORD>(size), &count, &at) ||
      GetLastError() == ERROR_HANDLE_EOF) {
    got = count;
    return Step::kDone;
  }
  setReason(reason, EIO);
  return Step::kFailed;
}

Step writeOnce(int fd, const unsigned char* data, std::size_t size, std::size_t& written,
               std::string& reason) {
  const int result = _write(fd, data, static_cast<unsigned>(size));
  // A write that stores nothing without an error would only repeat itself.
  if (result == 0) {
    setReason(reason, ENOSPC);
    return Step::kFailed;
  }
  return stepAfter(result, written, reason);
}

// A Windows pipe in no-wait mode has nothing to wait on for room, so the
// writer yields the processor and tries again.
bool waitWritable(int, std::string&) {
  Sleep(1);
  return true;
}

}  // namespace os
}  // namespace quarvend::platform
