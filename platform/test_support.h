// Helpers for tests on the real disk, shared by the test programs of every folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"
#include "test_support_native.h"  // MakeSymbolicLink, DeletionBlocker

namespace platform {

// The native path object for a wide path, whatever the process locale is.
inline std::filesystem::path FileSystemPath(const std::wstring& path) {
  const std::string utf8 = ToUtf8(path);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Writes bytes into a file, replacing it; false when it cannot be written.
inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(FileSystemPath(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// The bytes of a UTF-16LE text file with its byte-order mark.
inline std::string Utf16FileBytes(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// The bytes of a file; "" when it cannot be read.
inline std::string ReadWholeFile(const std::wstring& path) {
  std::ifstream in(FileSystemPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory under the system temporary directory that is removed with everything in
// it (links removed, never followed) when the object goes.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    // A unique temporary file name, turned into a directory of the same name.
    const std::wstring file = CreateTempFileName(TempDirectory(), L"kvt");
    if (!file.empty() && RemoveFile(file) && MakeDirectory(file)) path_ = file + kSep;
  }
  ~ScopedTempDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The directory, ending with a separator; "" when it could not be created.
  const std::wstring& path() const { return path_; }

  // Removes dir (ending with a separator) and everything below it.
  static void RemoveTree(const std::wstring& dir) {
    {
      DirectorySearch search(dir);
      DirectoryEntry entry;
      while (search.Next(entry)) {
        if (entry.name == L"." || entry.name == L"..") continue;
        const std::wstring path = dir + entry.name;
        if (entry.isLink) {
          RemoveLink(path);
        } else if (entry.isDirectory) {
          RemoveTree(path + kSep);
        } else {
          RemoveFile(path);
        }
      }
    }
    RemoveEmptyDirectory(dir);
  }

 private:
  std::wstring path_;
};

}  // namespace platform
