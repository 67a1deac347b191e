// Runs a built program the way a shell would, with its standard
// streams captured, replaced or closed, and reports what it did.
#pragma once

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

namespace quarvend::testing {

// The exit status a run reports for -1, as the parent process sees it: POSIX
// keeps only the low 8 bits, Windows all 32 (0xFFFFFFFF).
#ifdef _WIN32
inline constexpr int kFailedCloseStatus = -1;
#else
inline constexpr int kFailedCloseStatus = 255;
#endif

// The status of a run whose tool did not start, or (on POSIX) was killed.
inline constexpr int kNoExitStatus = INT_MIN;

enum class StandardOutput {
  kCaptured,  // collected for the test
  kFull,      // the full device: every write fails with "no space" (POSIX only)
  kClosed,    // descriptor 1 is closed (on Windows: no handle) when the tool starts
};

struct ToolOptions {
  std::string program = "quarvend";  // which of the built programs runs
  StandardOutput output = StandardOutput::kCaptured;
  bool closeAllStandardStreams = false;    // 0, 1 and 2 closed at start
  std::filesystem::path workingDirectory;  // empty: the test's own
  std::vector<std::string> wrapper;        // a program that runs the tool (POSIX only,
                                           // not under an emulator)
};

struct ToolRun {
  std::string out;             // bytes written to standard output (when captured)
  std::string err;             // bytes written to standard error (when captured)
  int status = kNoExitStatus;  // exit status
};

// The path of the built program `name`.
std::string toolPath(const std::string& name = "quarvend");

// Runs options.program with `arguments`, which on Windows are taken as UTF-8 and
// passed on as UTF-16. Standard input is the null device.
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

// The tool's closing line for an output file named `name`, as it reaches
// standard output.
inline std::string closingMessage(const std::string& name) {
  return "\r\nYour 'quarvended' (decoded) text is in " + name + "\r\n";
}

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace quarvend::testing
