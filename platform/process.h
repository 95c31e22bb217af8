// The running process and the programs it starts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Full path of the running executable; "" when it cannot be determined. On Windows a path
// of 260 or more characters counts as undeterminable (the 260-character buffer); elsewhere
// paths have no such limit.
std::wstring OwnExecutablePath();

// The process command line as one text: on Windows GetCommandLineW; elsewhere the program
// name and its arguments, each quoted by the Windows rules, so that the same text splits
// back into the same arguments.
std::wstring ProcessCommandLine();

// Starts a program without waiting for it ("open"). parameters is one text split by the
// Windows command-line rules; workingDir "" means the current directory; hidden selects
// SW_HIDE instead of SW_SHOW (meaningless off Windows). Returns false when it could not start.
bool StartProgram(const std::wstring& path, const std::wstring& parameters,
                  const std::wstring& workingDir, bool hidden);

// A started program that can be waited for. Destroying it neither waits for nor ends it.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts path as StartProgram does (hidden, no window), keeping a handle on it. False
  // when it could not start.
  bool Start(const std::wstring& path, const std::wstring& parameters,
             const std::wstring& workingDir);
  bool IsStarted() const;
  // Waits at most timeoutMs for the program to end. True when it has ended (exitCode then
  // holds its code); false on time-out or when nothing was started.
  bool Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode);
  // Ends the program at once and waits for it; does nothing when it has ended.
  void Kill();

 private:
  std::intptr_t handle_ = -1;  // a process id, or a process handle on Windows
  bool ended_ = false;
};

// Pauses the calling thread; 0xFFFFFFFF pauses as long as 0xFFFFFFFE (never forever).
void SleepMilliseconds(std::uint32_t ms);

// The calling thread's last system error (GetLastError or errno) and its text.
std::uint32_t LastErrorCode();
// The system's message for code, untrimmed; "" when the system knows no text for it.
std::wstring SystemErrorMessage(std::uint32_t code);

}  // namespace platform
