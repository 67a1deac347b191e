#include "platform/file_io.h"

#include <cerrno>
#include <climits>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarvend::platform {
namespace {

std::string reasonFor(int error) { return std::strerror(error); }

// The most one read or write call is asked to move; Windows counts in
// unsigned int, and POSIX leaves larger requests to the implementation.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

}  // namespace

#ifdef _WIN32

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
  _setmode(kStandardOutput, _O_BINARY);
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

namespace {

// The code page names are shown in: the console's own when standard output
// is a console, so that the characters it can show appear as themselves;
// UTF-8 otherwise, since a file or pipe has no code page of its own and UTF-8
// loses no name.
UINT codePageForNames() {
  const auto out = reinterpret_cast<HANDLE>(_get_osfhandle(kStandardOutput));
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
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

}  // namespace

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

int openForReading(const NativeName& name, std::string& reason) {
  int fd = -1;
  const errno_t error = _wsopen_s(&fd, openableName(name).c_str(), _O_RDONLY | _O_BINARY,
                                  _SH_DENYNO, _S_IREAD);
  if (error != 0) {
    reason = reasonFor(error);
    return -1;
  }
  return fd;
}

int openForWriting(const NativeName& name, std::string& reason) {
  int fd = -1;
  const errno_t error =
      _wsopen_s(&fd, openableName(name).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY,
                _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (error != 0) {
    reason = reasonFor(error);
    return -1;
  }
  return fd;
}

bool emptyFile(int fd, std::string& reason) {
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
    return true;
  }
  const errno_t error = _chsize_s(fd, 0);
  if (error != 0) {
    reason = reasonFor(error);
    return false;
  }
  return true;
}

bool sameFile(int first, int second) {
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(first)), &a) ||
      !GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(second)), &b)) {
    return false;
  }
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::ptrdiff_t FileSource::read(unsigned char* buffer, std::size_t size) {
  const auto count = static_cast<unsigned>(size < kMaxTransfer ? size : kMaxTransfer);
  return _read(fd_, buffer, count);
}

bool FileSource::close() { return _close(fd_) == 0; }

bool FileSink::write(const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const auto count = static_cast<unsigned>(size < kMaxTransfer ? size : kMaxTransfer);
    const int written = _write(fd_, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool FileSink::close() { return _close(fd_) == 0; }

#else  // POSIX

bool prepareStandardStreams() {
  bool outputOpen = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == kStandardOutput) outputOpen = false;
    // open() returns the lowest free descriptor, which is this one.
    const int nul = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (nul >= 0 && nul != fd) {
      dup2(nul, fd);
      ::close(nul);
    }
  }
  return outputOpen;
}

std::vector<NativeName> commandLine(int argc, char** argv) {
  std::vector<NativeName> names;
  for (int i = 1; i < argc; ++i) names.emplace_back(argv[i]);
  return names;
}

std::string displayName(const NativeName& name) { return name; }

int openForReading(const NativeName& name, std::string& reason) {
  int fd;
  do {
    fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reason = reasonFor(errno);
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    reason = reasonFor(EISDIR);
    return -1;
  }
  return fd;
}

int openForWriting(const NativeName& name, std::string& reason) {
  int fd;
  do {
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reason = reasonFor(errno);
    return -1;
  }
  return fd;
}

bool emptyFile(int fd, std::string& reason) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    reason = reasonFor(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) return true;
  if (ftruncate(fd, 0) != 0) {
    reason = reasonFor(errno);
    return false;
  }
  return true;
}

bool sameFile(int first, int second) {
  struct stat a {};
  struct stat b {};
  if (fstat(first, &a) != 0 || fstat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::ptrdiff_t FileSource::read(unsigned char* buffer, std::size_t size) {
  const std::size_t count = size < kMaxTransfer ? size : kMaxTransfer;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool FileSource::close() { return ::close(fd_) == 0; }

bool FileSink::write(const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t count = size < kMaxTransfer ? size : kMaxTransfer;
    const ssize_t written = ::write(fd_, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool FileSink::close() { return ::close(fd_) == 0; }

#endif

}  // namespace quarvend::platform
