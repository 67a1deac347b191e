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

// A bash script for ToolOptions::wrapper: runs the program under a rising
// limit on its memory, from less than the loader needs to more than the run
// takes, which the first success shows. The runs must end, in this order,
// with the loader's refusal, then the program's own "cannot start" with the
// output file (its last argument) left as it was, then success; each run that
// does not is told on standard error. Then it runs the program once more,
// without a limit.
inline const std::string kMemorySweep =
    "exec 3>&2 2>/dev/null; last=${@: -1}; m=$(mktemp); seen=0\n"
    "for k in $(seq 1024 16 65536); do printf keep >\"$last\"\n"
    "  (ulimit -v $k; exec \"$0\" \"$@\") >$m 2>&1; s=$?; n=9\n"
    "  case $s in 139) n=0;; 127) n=1;; 0) n=3;; 1) grep -q 'cannot start: Cannot "
    "allocate memory' $m && [ \"$(cat \"$last\")\" = keep ] && n=2;; esac\n"
    "  if [ $n = 9 ] || [ $n -lt $seen ]; then echo \"$k KiB: status $s\" >&3;"
    " else seen=$n; fi; [ $n = 3 ] && break\n"
    "done; rm $m; printf keep >\"$last\"; exec 2>&3; exec \"$0\" \"$@\"\n";

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace quarvend::testing
