// The file services an install that must survive interruption needs, on Windows: one-step
// renames written through to disk, flushed copies, and questions about what a path is.
#include <windows.h>

#include "file_handle_win32.h"
#include "platform/files.h"

namespace platform {

// FlushFileBuffers needs a handle with write access, which a read-only file refuses; such a
// file is left to the system's own write-back.
FileResult FlushFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return FileResult();
    }
    return FileResult::FromSystemError(error, path);
  }
  return FileResult::Of(FlushFileBuffers(file.get()) != 0, path);
}

PathInfo QueryPath(const std::wstring& path) {
  PathInfo result;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return result;
  }
  const DWORD attributes = data.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result.kind = PathKind::Link;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result.kind = PathKind::Directory;
  } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    result.kind = PathKind::Other;
  } else {
    result.kind = PathKind::File;
    result.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return result;
}

bool IsStartableProgram(const std::wstring& path) { return QueryPath(path).kind == PathKind::File; }

FileResult MovePath(const std::wstring& from, const std::wstring& to) {
  // Without MOVEFILE_COPY_ALLOWED a move across volumes fails (ERROR_NOT_SAME_DEVICE).
  return FileResult::Of(MoveFileExW(from.c_str(), to.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0,
                        from);
}

bool IsCrossVolumeError(std::uint32_t code) { return code == ERROR_NOT_SAME_DEVICE; }

namespace {

// Made new: what stands at path (a file, or a link itself, never what it points at) goes; a
// missing one is no failure.
bool RemoveForNew(const std::wstring& path) {
  return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

FileResult CopyFileFlushed(const std::wstring& from, const std::wstring& to) {
  if (!RemoveForNew(to)) return FileResult::Of(false, to);
  if (!CopyFileW(from.c_str(), to.c_str(), TRUE)) return FileResult::Of(false, from);
  return FlushFile(to);
}

FileResult FlushDirectory(const std::wstring&) { return FileResult(); }

FileResult WriteFileFlushed(const std::wstring& path, const std::string& bytes, bool append) {
  if (!append && !RemoveForNew(path)) return FileResult::Of(false, path);
  FileHandle file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, 0, nullptr,
                              append ? OPEN_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) return FileResult::Of(false, path);
  DWORD written = 0;
  if (!bytes.empty() &&
      !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return FileResult::Of(false, path);
  }
  if (written != bytes.size()) return FileResult::Failure(ERROR_DISK_FULL, path);
  return FileResult::Of(FlushFileBuffers(file.get()) != 0, path);
}

bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) return false;
  LARGE_INTEGER size;
  // Only a file on disk: a pipe or a device could keep the read waiting for good.
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) > limitBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.clear();
  char buffer[1 << 14];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    if (n > limitBytes - bytes.size()) {  // it grew while read
      SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    bytes.append(buffer, n);
  }
}

FileReader::~FileReader() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileReader::Open(const std::wstring& path) {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool FileReader::ReadAt(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (handle_ == -1) return false;
  while (got < size) {
    const std::uint64_t at = offset + got;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const std::size_t left = size - got;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), data + got, chunk, &n, &where)) {
      return GetLastError() == ERROR_HANDLE_EOF;
    }
    if (n == 0) break;
    got += n;
  }
  return true;
}

bool FileReader::Size(std::uint64_t& size) {
  LARGE_INTEGER length;
  if (handle_ == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &length)) return false;
  size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

FileResult MarkExecutable(const std::wstring&) { return FileResult(); }

// The classic limit counts the terminating zero; a directory leaves room for an 8.3 name.
std::wstring LongPathForm(const std::wstring& absolutePath) {
  constexpr std::size_t kClassicLimit = 248;
  if (absolutePath.size() < kClassicLimit || absolutePath.rfind(L"\\\\?\\", 0) == 0) {
    return absolutePath;
  }
  if (absolutePath.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolutePath.substr(2);
  return L"\\\\?\\" + absolutePath;
}

bool FileReader::Read(char* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (handle_ == -1) return false;
  DWORD n = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &n, nullptr)) return false;
  got = n;
  return true;
}

// A running program's file, or one held open by another process, refuses a handle that
// shares nothing.
bool CanOpenForWriting(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsOpen();
}

}  // namespace platform
