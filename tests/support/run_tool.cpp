#include "support/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#ifndef QUARVEND_BINARY
#define QUARVEND_BINARY "quarvend"
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

ScratchFolder::ScratchFolder() {
  std::random_device seed;
  path_ = fs::temp_directory_path() /
          ("quarvend-test-" + std::to_string(getpid()) + "-" + std::to_string(seed()));
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string toolPath() { return QUARVEND_BINARY; }

ToolRun runTool(const std::vector<std::string>& arguments, const ToolOptions& options) {
  ScratchFolder capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");

  std::vector<std::string> words = options.wrapper;
  words.push_back(toolPath());
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

}  // namespace quarvend::testing
