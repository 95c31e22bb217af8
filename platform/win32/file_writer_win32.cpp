#include <windows.h>

#include "platform/file_writer.h"

namespace platform {

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Create(const std::wstring& path) {
  Close();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
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
