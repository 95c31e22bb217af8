// A file written from start to end in one go, such as a downloaded package.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Creates a file for writing, or truncates an existing one to zero length; on Windows the
// file is not shared while open. Closes itself.
class FileWriter {
 public:
  FileWriter() = default;
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // False when the file cannot be created.
  bool Create(const std::wstring& path);
  // False when not all bytes could be written.
  bool Write(const char* data, std::size_t size);
  // False when the file was not open or the last data could not be written out.
  bool Close();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
