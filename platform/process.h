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

// Pauses the calling thread; 0xFFFFFFFF pauses as long as 0xFFFFFFFE (never forever).
void SleepMilliseconds(std::uint32_t ms);

// The calling thread's last system error (GetLastError or errno) and its text.
std::uint32_t LastErrorCode();
// The system's message for code, untrimmed; "" when the system knows no text for it.
std::wstring SystemErrorMessage(std::uint32_t code);

}  // namespace platform
