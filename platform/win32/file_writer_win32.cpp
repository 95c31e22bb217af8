#include <windows.h>

#include "platform/file_writer.h"

namespace platform {

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Create(const std::wstring& path) {
  Close();
  // Made new: what stands at path (a file, or a link itself, never what it points at) goes
  // first, and anything put there in between makes the creation fail.
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = file;
  return true;
}

namespace {

// A plain file opened as itself, a link not followed; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenPlainFile(const std::wstring& path, DWORD access, DWORD share) {
  HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

bool FileWriter::Continue(const std::wstring& path, std::uint64_t offset) {
  Close();
  HANDLE file = OpenPlainFile(path, GENERIC_WRITE, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) < offset ||
      !SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  return true;
}

bool FileWriter::Write(const char* data, std::size_t size) {
  DWORD written = 0;
  return handle_ != nullptr && size <= MAXDWORD &&
         WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool FileWriter::Close() {
  if (handle_ == nullptr) return false;
  const bool closed = CloseHandle(handle_) != FALSE;
  handle_ = nullptr;
  return closed;
}

}  // namespace platform
