// A file written from start to end in one go, such as a downloaded package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file made new for writing (what stood at its path, a file or a link, is removed first and
// never written through), or an existing plain file continued; on Windows the file is not
// shared while open. Closes itself.
class FileWriter {
 public:
  FileWriter() = default;
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // False when the file cannot be created, or what stands at path cannot be removed (a
  // directory, a file in use).
  bool Create(const std::wstring& path);
  // Opens the existing file at path to write on after its first offset bytes; any bytes
  // beyond them are dropped. False when it is missing, no plain file (a link is not followed),
  // shorter than offset, or cannot be opened.
  bool Continue(const std::wstring& path, std::uint64_t offset);
  // False when not all bytes could be written.
  bool Write(const char* data, std::size_t size);
  // False when the file was not open or the last data could not be written out.
  bool Close();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
