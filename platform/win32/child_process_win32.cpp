// Programs started to be waited for, on Windows.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include "platform/process.h"

namespace platform {
namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

ChildProcess::~ChildProcess() {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle_(other.handle_), ended_(other.ended_) {
  other.handle_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (handle_ != -1) CloseHandle(AsHandle(handle_));
    handle_ = other.handle_;
    ended_ = other.ended_;
    other.handle_ = -1;
  }
  return *this;
}

bool ChildProcess::Start(const std::wstring& path, const std::wstring& parameters,
                         const std::wstring& workingDir) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = path.c_str();
  info.lpParameters = OrNull(parameters);
  info.lpDirectory = OrNull(workingDir);
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info) || info.hProcess == nullptr) return false;
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
  ended_ = false;
  return true;
}

bool ChildProcess::IsStarted() const { return handle_ != -1; }

bool ChildProcess::Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode) {
  if (handle_ == -1) return false;
  const DWORD wait = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
  if (WaitForSingleObject(AsHandle(handle_), wait) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(AsHandle(handle_), &code);
  exitCode = code;
  ended_ = true;
  return true;
}

void ChildProcess::Kill() {
  if (handle_ == -1 || ended_) return;
  TerminateProcess(AsHandle(handle_), 1);
  WaitForSingleObject(AsHandle(handle_), INFINITE - 1);
  ended_ = true;
}

}  // namespace platform
