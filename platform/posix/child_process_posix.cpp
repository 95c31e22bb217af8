// Programs started to be waited for, on POSIX.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::uint32_t kPollIntervalMs = 10;

// Lets go of a held child: the program runs on, and one that has ended already is reaped
// here so that no zombie stays; reaping a later end is left to init once we end.
void ReleaseChild(std::intptr_t handle, bool ended) {
  if (handle == -1 || ended) return;
  int status = 0;
  waitpid(static_cast<pid_t>(handle), &status, WNOHANG);
}

}  // namespace

ChildProcess::~ChildProcess() { ReleaseChild(handle_, ended_); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle_(other.handle_), ended_(other.ended_) {
  other.handle_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    ReleaseChild(handle_, ended_);
    handle_ = other.handle_;
    ended_ = other.ended_;
    other.handle_ = -1;
  }
  return *this;
}

bool ChildProcess::Start(const std::wstring& path, const std::wstring& parameters,
                         const std::wstring& workingDir) {
  // Everything the child needs is prepared before fork: after it, only system calls.
  const std::string program = ToUtf8(path);
  const std::string dir = ToUtf8(workingDir);
  std::vector<std::string> arguments{program};
  for (const auto& argument : SplitParameters(parameters)) arguments.push_back(ToUtf8(argument));
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (pid == 0) {
    int error = 0;
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
      error = errno;
    } else {
      execv(program.c_str(), argv.data());
      error = errno;
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t n;
  do {
    n = read(report[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  handle_ = pid;
  ended_ = false;
  if (n == static_cast<ssize_t>(sizeof error)) {  // the exec failed: reap the child
    std::uint32_t ignored = 0;
    Wait(0xFFFFFFFEu, ignored);
    handle_ = -1;
    errno = error;
    return false;
  }
  return true;
}

bool ChildProcess::IsStarted() const { return handle_ > 0; }

bool ChildProcess::Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode) {
  if (handle_ <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    if (done == static_cast<pid_t>(handle_)) {
      ended_ = true;
      handle_ = -1;
      exitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                   : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
      return true;
    }
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    SleepMilliseconds(kPollIntervalMs);
  }
}

void ChildProcess::Kill() {
  if (handle_ <= 0) return;
  kill(static_cast<pid_t>(handle_), SIGKILL);
  std::uint32_t ignored = 0;
  Wait(0xFFFFFFFEu, ignored);
}

}  // namespace platform
