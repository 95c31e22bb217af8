// The running process and program starts on Windows.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include "platform/process.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

constexpr DWORD kPathBufferChars = MAX_PATH;

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

// A buffer that FormatMessageW allocated.
bool FreeLocal(wchar_t* text) { return LocalFree(text) == nullptr; }
using LocalBuffer = UniqueHandle<wchar_t*, FreeLocal>;

}  // namespace

std::wstring OwnExecutablePath() {
  wchar_t buffer[kPathBufferChars];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, kPathBufferChars);
  if (n == 0 || n >= kPathBufferChars) return L"";  // failed, or cut short
  return std::wstring(buffer, n);
}

std::wstring ProcessCommandLine() { return GetCommandLineW(); }

bool StartProgram(const std::wstring& path, const std::wstring& parameters,
                  const std::wstring& workingDir, bool hidden) {
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", path.c_str(), OrNull(parameters),
                                         OrNull(workingDir), hidden ? SW_HIDE : SW_SHOW);
  // ShellExecuteW reports success as a value above 32, for compatibility with WinExec.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// INFINITE would never return; the longest finite pause stands in for it.
void SleepMilliseconds(std::uint32_t ms) { Sleep(ms == INFINITE ? INFINITE - 1 : ms); }

std::uint32_t LastErrorCode() { return GetLastError(); }

std::wstring SystemErrorMessage(std::uint32_t code) {
  LocalBuffer buffer;
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD n = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<LPWSTR>(buffer.out()), 0, nullptr);
  if (n == 0 || !buffer.IsOpen()) return L"";
  return std::wstring(buffer.get(), n);
}

}  // namespace platform
