// Whole sections are read and written by our own INI code, as on other systems, not by
// GetPrivateProfileSectionW and WritePrivateProfileSectionW: some implementations of those
// (Wine's) reload a large file at every change and rebuild a section in time that grows with
// the square of its keys, and filter lists hold tens of thousands. Files keep the encoding
// the profile functions read them in: ANSI, or Unicode after a byte-order mark.
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/profile.h"

namespace platform {
namespace {

// The whole file into bytes; false when it exists and cannot be read (a missing file reads
// as empty, and missing says so).
bool ReadFileBytes(const std::wstring& path, std::string& bytes, bool& missing) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  missing = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  if (file == INVALID_HANDLE_VALUE) return missing;
  LARGE_INTEGER size{};
  bool done = GetFileSizeEx(file, &size) != FALSE && size.QuadPart < MAXLONG;
  if (done) bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  done = done && ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size();
  CloseHandle(file);
  return done;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done =
      bytes.size() < MAXLONG &&
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size() && FlushFileBuffers(file);
  return CloseHandle(file) && done;
}

// Writes bytes to a new file beside path and renames it over path, so that a reader finds
// the old file or the new one and never a part. A read-only file, or one open without delete
// sharing, stays as it was. (ReplaceFileW, which would also keep the old file's security, can
// leave neither file under the old name when it fails half way.)
bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);  // a rename would not ask, under some systems
    return false;
  }
  const std::wstring temp = CreateTempFileName(dir, L"kvi");
  if (temp.empty()) return false;
  // The new file keeps the old one's attributes (hidden, say); its security is the folder's.
  const bool replaced =
      WriteFileBytes(temp, bytes) &&
      (attributes == INVALID_FILE_ATTRIBUTES || SetFileAttributesW(temp.c_str(), attributes)) &&
      MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!replaced) DeleteFileW(temp.c_str());
  return replaced;
}

}  // namespace

ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path) {
  std::string bytes;
  bool missing = false;
  if (!ReadFileBytes(path, bytes, missing) || missing) return {};
  return IniFile(std::move(bytes)).SectionEntries(section);
}

bool WriteProfileEntries(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path) {
  if (HasLineBreak(section, entries)) return false;
  std::string old;
  bool missing = false;
  if (!ReadFileBytes(path, old, missing)) return false;
  const IniFile file(std::move(old));
  const std::string bytes =
      entries.empty() ? file.WithoutSection(section) : file.WithSection(section, entries);
  if (bytes == file.Bytes() && (!missing || bytes.empty())) return true;
  return ReplaceWholeFile(path, bytes);
}

}  // namespace platform
