#include "support/run_tool.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#ifndef QUARVEND_PROGRAM_DIR
#define QUARVEND_PROGRAM_DIR "."
#define QUARVEND_PROGRAM_SUFFIX ""
#endif

namespace quarvend::testing {
namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

unsigned long processId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

ScratchFolder::ScratchFolder() {
  std::random_device seed;
  path_ = fs::temp_directory_path() /
          ("quarvend-test-" + std::to_string(processId()) + "-" + std::to_string(seed()));
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring result(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, result.data(), wide);
  return result;
}

// `word` quoted so that CommandLineToArgvW and the C runtime read it back
// unchanged: backslashes only need doubling where a quote follows them.
std::wstring quoted(const std::wstring& word) {
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(2 * backslashes, L'\\');
  return result + L"\"";
}

// A handle the tool can inherit, to `path` opened with `access`; `disposition`
// says whether it is created afresh or must already exist.
HANDLE inheritedFile(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// A Windows path: the Unix-style name the build gives would be read relative
// to whichever drive is current when the tool is started.
std::string toolPath(const std::string& name) {
  return fs::absolute(QUARVEND_PROGRAM_DIR "/" + name + QUARVEND_PROGRAM_SUFFIX).string();
}

ToolRun runTool(const std::vector<std::string>& arguments, const ToolOptions& options) {
  ToolRun run;
  if (options.output == StandardOutput::kFull || !options.wrapper.empty()) {
    ADD_FAILURE() << "no full device and no wrappers on Windows";
    return run;
  }
  ScratchFolder capture;
  const fs::path outPath = capture.path() / "stdout";
  const fs::path errPath = capture.path() / "stderr";

  const std::wstring tool = widen(toolPath(options.program));
  std::wstring commandLine = quoted(tool);
  for (const std::string& argument : arguments)
    commandLine += L" " + quoted(widen(argument));

  HANDLE out = inheritedFile(outPath.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = inheritedFile(errPath.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE nul = inheritedFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  // A null handle is how a Windows process finds a standard stream closed.
  startup.hStdInput = options.closeAllStandardStreams ? nullptr : nul;
  startup.hStdOutput = options.output == StandardOutput::kClosed ? nullptr : out;
  startup.hStdError = options.closeAllStandardStreams ? nullptr : err;
  const std::wstring folder = options.workingDirectory.wstring();

  // Under Wine, with other tests starting programs at the same time, a start
  // now and then fails for a moment: a few tries tell that apart from a
  // program that cannot be started, which is reported with the system's code.
  PROCESS_INFORMATION child{};
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(250);
    started = CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, folder.empty() ? nullptr : folder.c_str(), &startup,
                             &child);
  }
  if (!started) {
    const DWORD error = GetLastError();
    ADD_FAILURE() << "cannot start " << toolPath(options.program) << ": error " << error;
  } else {
    DWORD code = 0;
    if (WaitForSingleObject(child.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(child.hProcess, &code)) {
      run.status = static_cast<int>(code);
    } else {
      const DWORD error = GetLastError();
      ADD_FAILURE() << "no exit status from " << toolPath(options.program) << ": error "
                    << error;
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  for (HANDLE handle : {out, err, nul}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  run.out = readBytes(outPath);
  run.err = readBytes(errPath);
  return run;
}

#else  // POSIX

std::string toolPath(const std::string& name) {
  return QUARVEND_PROGRAM_DIR "/" + name + QUARVEND_PROGRAM_SUFFIX;
}

ToolRun runTool(const std::vector<std::string>& arguments, const ToolOptions& options) {
  ScratchFolder capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");

  std::vector<std::string> words = options.wrapper;
#ifdef QUARVEND_TOOL_EMULATOR
  std::istringstream emulator(QUARVEND_TOOL_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
#endif
  words.push_back(toolPath(options.program));
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls from here to exec.
    if (!options.workingDirectory.empty() &&
        chdir(options.workingDirectory.c_str()) != 0) {
      _exit(120);
    }
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int nul = open("/dev/null", O_RDONLY);
    const int full = open("/dev/full", O_WRONLY);
    if (out < 0 || err < 0 || nul < 0) _exit(121);
    dup2(nul, 0);
    dup2(err, 2);
    if (options.output == StandardOutput::kFull) {
      if (full < 0) _exit(122);
      dup2(full, 1);
    } else {
      dup2(out, 1);
    }
    if (options.output == StandardOutput::kClosed) close(1);
    if (options.closeAllStandardStreams) {
      close(0);
      close(1);
      close(2);
    }
    for (int fd : {out, err, nul, full}) {
      if (fd > 2) close(fd);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }

  ToolRun run;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  run.out = readBytes(outPath);
  run.err = readBytes(errPath);
  return run;
}

#endif

}  // namespace quarvend::testing
