// The running process and program starts on POSIX.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {
namespace {

// Everything the started program needs, prepared before fork: after it, the child may only
// make system calls.
struct Launch {
  std::string path;
  std::string workingDir;
  std::vector<std::string> arguments;
  std::vector<char*> argv;

  Launch(const std::wstring& program, const std::wstring& parameters, const std::wstring& dir)
      : path(ToUtf8(program)), workingDir(ToUtf8(dir)) {
    arguments.push_back(path);
    for (const auto& argument : SplitParameters(parameters)) arguments.push_back(ToUtf8(argument));
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
  }
};

// Runs in the grandchild: enters the directory and replaces itself by the program. On
// failure it reports errno through the pipe, whose write end closes on a successful exec.
[[noreturn]] void ExecOrReport(const Launch& launch, int reportFd) {
  int error = 0;
  if (!launch.workingDir.empty() && chdir(launch.workingDir.c_str()) != 0) {
    error = errno;
  } else {
    execv(launch.path.c_str(), launch.argv.data());
    error = errno;
  }
  ssize_t ignored = write(reportFd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

// The parent side: waits for the short-lived middle child, then for the report. End of file
// without a report means the program is running.
bool CollectReport(pid_t middle, int readFd) {
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = read(readFd, &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(readFd);
  if (n == static_cast<ssize_t>(sizeof error)) {
    errno = error;
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    errno = ECHILD;  // the middle child could not fork
    return false;
  }
  return true;
}

}  // namespace

std::wstring OwnExecutablePath() {
  // Paths here have no 260-character limit; the buffer grows until the link fits.
  for (std::size_t size = 4096; size <= (1u << 20); size *= 2) {
    // Not zeroed: the launcher asks at every start, and readlink says how much it wrote.
    const auto buffer = std::make_unique_for_overwrite<char[]>(size);
    const ssize_t n = readlink("/proc/self/exe", buffer.get(), size);
    if (n <= 0) return L"";
    if (static_cast<std::size_t>(n) < size) {
      return FromUtf8(std::string_view(buffer.get(), static_cast<std::size_t>(n)));
    }
  }
  return L"";
}

bool StartProgram(const std::wstring& path, const std::wstring& parameters,
                  const std::wstring& workingDir, bool /*hidden*/) {
  const Launch launch(path, parameters, workingDir);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  // Two forks: the program becomes a child of init, so it is never left as our zombie and
  // we never wait for it.
  const pid_t middle = fork();
  if (middle < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    errno = error;
    return false;
  }
  if (middle == 0) {
    close(report[0]);
    const pid_t program = fork();
    if (program == 0) ExecOrReport(launch, report[1]);
    _exit(program < 0 ? 1 : 0);
  }
  close(report[1]);
  return CollectReport(middle, report[0]);
}

void SleepMilliseconds(std::uint32_t ms) {
  struct timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::uint32_t LastErrorCode() { return static_cast<std::uint32_t>(errno); }

std::wstring SystemErrorMessage(std::uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns its text, which need not be in buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text != nullptr ? FromUtf8(text) : L"";
}

}  // namespace platform
