// File-system services on Windows, with the flags and buffer sizes the programs rely on.
#include <windows.h>

#include "platform/files.h"

namespace platform {
namespace {

constexpr DWORD kPathBufferChars = MAX_PATH;  // 260, as the programs were defined with

bool HasWildcard(const std::wstring& path) {
  return path.find_first_of(L"*?") != std::wstring::npos;
}

void FillEntry(const WIN32_FIND_DATAW& data, DirectoryEntry& entry) {
  const DWORD attributes = data.dwFileAttributes;
  entry.name = data.cFileName;
  entry.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  entry.isDirectory = !entry.isLink && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

FileResult FileResult::FromSystemError(std::uint32_t code, const std::wstring& path) {
  const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
  return FileResult(missing ? FileOutcome::Missing : FileOutcome::Failed, code, path);
}

bool PathQuery(const std::wstring& path) {
  if (path.empty() || HasWildcard(path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileResult CopyFileOverwrite(const std::wstring& from, const std::wstring& to) {
  return FileResult::Of(CopyFileW(from.c_str(), to.c_str(), FALSE) != 0, from);
}

FileResult RemoveFile(const std::wstring& path) {
  return FileResult::Of(DeleteFileW(path.c_str()) != 0, path);
}

FileResult MakeDirectory(const std::wstring& path) {
  return FileResult::Of(CreateDirectoryW(path.c_str(), nullptr) != 0, path);
}

FileResult RemoveEmptyDirectory(const std::wstring& path) {
  return FileResult::Of(RemoveDirectoryW(path.c_str()) != 0, path);
}

// A link to a directory (symbolic link or junction) carries the directory attribute and is
// removed like a directory; a link to a file like a file. Neither call follows the link.
FileResult RemoveLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileResult::Of(false, path);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return FileResult::Failure(ERROR_NOT_A_REPARSE_POINT, path);
  }
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return FileResult::Of(
      (directory ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) != 0, path);
}

// What SetCurrentDirectoryW would answer, without changing the current directory: a file
// gives ERROR_DIRECTORY, as it does there.
FileResult QueryDirectory(const std::wstring& path) {
  if (path.empty()) return FileResult::FromSystemError(ERROR_PATH_NOT_FOUND, path);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileResult::Of(false, path);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return FileResult::Failure(ERROR_DIRECTORY, path);
  }
  return FileResult();
}

std::wstring CurrentDirectory() {
  wchar_t buffer[kPathBufferChars];
  const DWORD n = GetCurrentDirectoryW(kPathBufferChars, buffer);
  if (n == 0 || n >= kPathBufferChars) return L"";
  return std::wstring(buffer, n);
}

FileResult ChangeDirectory(const std::wstring& path) {
  return FileResult::Of(SetCurrentDirectoryW(path.c_str()) != 0, path);
}

struct DirectorySearch::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW pending;  // FindFirstFileW already delivered the first entry
  bool hasPending = false;
  FileResult status;
};

DirectorySearch::DirectorySearch(const std::wstring& dir) : state_(new State) {
  const std::wstring pattern = dir + L"*.*";
  state_->handle = FindFirstFileW(pattern.c_str(), &state_->pending);
  state_->hasPending = state_->handle != INVALID_HANDLE_VALUE;
  state_->status = FileResult::Of(state_->hasPending, dir);
}

DirectorySearch::~DirectorySearch() {
  if (state_->handle != INVALID_HANDLE_VALUE) FindClose(state_->handle);
  delete state_;
}

bool DirectorySearch::IsOpen() const { return state_->handle != INVALID_HANDLE_VALUE; }

const FileResult& DirectorySearch::Status() const { return state_->status; }

bool DirectorySearch::Next(DirectoryEntry& entry) {
  if (state_->handle == INVALID_HANDLE_VALUE) return false;
  if (state_->hasPending) {
    state_->hasPending = false;
    FillEntry(state_->pending, entry);
    return true;
  }
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(state_->handle, &data)) return false;
  FillEntry(data, entry);
  return true;
}

std::wstring TempDirectory() {
  wchar_t buffer[kPathBufferChars];
  const DWORD n = GetTempPathW(kPathBufferChars, buffer);
  if (n == 0 || n >= kPathBufferChars) return L"";
  return std::wstring(buffer, n);
}

std::wstring CreateTempFileName(const std::wstring& dir, const std::wstring& prefix) {
  wchar_t buffer[kPathBufferChars];
  if (GetTempFileNameW(dir.c_str(), prefix.c_str(), 0, buffer) == 0) return L"";
  return buffer;
}

std::wstring MakePrivateDirectory(const std::wstring& dir, const std::wstring& prefix) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::uint32_t seed = static_cast<std::uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 0x10000; ++attempt, seed = seed * 1664525u + 1013904223u) {
    std::wstring path = dir + prefix;
    for (int shift = 28; shift >= 0; shift -= 4) path += kHex[(seed >> shift) & 0xF];
    if (CreateDirectoryW(path.c_str(), nullptr)) return path + L"\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) return L"";
  }
  return L"";
}

}  // namespace platform
