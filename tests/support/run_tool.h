// Runs the built quarvend binary the way a shell would, with its standard
// streams captured, replaced or closed, and reports what it did.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quarvend::testing {

// The exit status a run reports for -1, as the parent process sees it.
inline constexpr int kFailedCloseStatus = 255;

enum class StandardOutput {
  kCaptured,  // collected for the test
  kFull,      // the full device: every write fails with "no space"
  kClosed,    // descriptor 1 is closed when the tool starts
};

struct ToolOptions {
  StandardOutput output = StandardOutput::kCaptured;
  bool closeAllStandardStreams = false;    // 0, 1 and 2 closed at start
  std::filesystem::path workingDirectory;  // empty: the test's own
  std::vector<std::string> wrapper;        // a program that runs the tool, such as strace
};

struct ToolRun {
  std::string out;  // bytes written to standard output (when captured)
  std::string err;  // bytes written to standard error (when captured)
  int status = -1;  // exit status, or -1 when the tool did not exit normally
};

// The path of the built tool.
std::string toolPath();

ToolRun runTool(const std::vector<std::string>& arguments,
                const ToolOptions& options = {});

// A fresh, empty folder for one test, removed by the destructor.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace quarvend::testing
