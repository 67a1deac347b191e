// The platform layer on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os.h"
#include "platform/platform.h"

namespace quarvend::platform {

using os::setReason;

// Files of 2 GiB or more, and offsets past that, on 32-bit systems too.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64 (CMakeLists.txt)");

StandardStreams prepareStandardStreams(BrokenPipe brokenPipe) {
  // A file-size limit then fails a write like any other (EFBIG) instead of
  // killing the run, and so does a reader that leaves early (EPIPE) when asked.
  if (brokenPipe == BrokenPipe::kFailsTheWrite) signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  StandardStreams streams;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == kStandardInput) streams.inputOpen = false;
    if (fd == kStandardOutput) streams.outputOpen = false;
    // open() returns the lowest free descriptor, which is this one.
    const int nul = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (nul >= 0 && nul != fd) {
      dup2(nul, fd);
      ::close(nul);
    }
  }
  return streams;
}

std::vector<NativeName> commandLine(int argc, char** argv) {
  std::vector<NativeName> names;
  for (int i = 1; i < argc; ++i) names.emplace_back(argv[i]);
  return names;
}

std::string displayName(const NativeName& name) { return name; }

bool openForReading(const NativeName& name, int& fd, std::string& reason) {
  do {
    fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    setReason(reason, errno);
    return false;
  }
  // open() takes a folder for reading; the first read would then fail.
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    setReason(reason, EISDIR);
    return false;
  }
  return true;
}

bool openForWriting(const NativeName& name, int& fd, std::string& reason) {
  do {
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    setReason(reason, errno);
    return false;
  }
  return true;
}

bool emptyFile(int fd, std::string& reason) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    setReason(reason, errno);
    return false;
  }
  // An empty file is left alone: cutting it anyway marks it, on ext4, as
  // replaced content, and closing it then starts writing all of it to disk.
  if (!S_ISREG(info.st_mode) || info.st_size == 0) return true;
  if (ftruncate(fd, 0) != 0) {
    setReason(reason, errno);
    return false;
  }
  return true;
}

bool sameFile(int first, int second, bool& same, std::string& reason) {
  struct stat a {};
  struct stat b {};
  if (fstat(first, &a) != 0 || fstat(second, &b) != 0) {
    setReason(reason, errno);
    return false;
  }
  same = S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
  return true;
}

bool closeFile(int fd, std::string& reason) {
  if (::close(fd) == 0) return true;
  setReason(reason, errno);
  return false;
}

bool isRegularFile(int fd, std::uint64_t& size) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

unsigned usableProcessors() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
#endif
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

int currentProcessor() {
#ifdef __linux__
  return sched_getcpu();
#else
  return -1;
#endif
}

namespace os {

Step readOnce(int fd, std::uint64_t offset, unsigned char* buffer, std::size_t size,
              std::size_t& got, std::string& reason) {
  return stepAfter(offset == kFilePosition
                       ? ::read(fd, buffer, size)
                       : ::pread(fd, buffer, size, static_cast<off_t>(offset)),
                   got, reason);
}

Step writeOnce(int fd, const unsigned char* data, std::size_t size, std::size_t& written,
               std::string& reason) {
  const ssize_t result = ::write(fd, data, size);
  // A write that stores nothing without an error would only repeat itself.
  if (result == 0) {
    setReason(reason, EIO);
    return Step::kFailed;
  }
  return stepAfter(result, written, reason);
}

bool waitWritable(int fd, std::string& reason) {
  pollfd target{fd, POLLOUT, 0};
  while (poll(&target, 1, -1) < 0) {
    if (errno != EINTR) {
      setReason(reason, errno);
      return false;
    }
  }
  return true;
}

}  // namespace os
}  // namespace quarvend::platform
