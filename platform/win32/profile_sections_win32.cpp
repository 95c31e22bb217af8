// Whole sections are read and written by our own INI code, as on other systems, not by
// GetPrivateProfileSectionW and WritePrivateProfileSectionW: some implementations of those
// (Wine's) reload a large file at every change and rebuild a section in time that grows with
// the square of its keys, and filter lists hold tens of thousands. Files keep the encoding
// the profile functions read them in: ANSI, or Unicode after a byte-order mark.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "file_handle_win32.h"
#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/ini_section_stream.h"
#include "platform/profile.h"
#include "platform/profile_cache.h"

namespace platform {
namespace {

bool StampOf(HANDLE file, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  auto join = [](DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; };
  stamp = {info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
           join(info.nFileSizeHigh, info.nFileSizeLow),
           static_cast<std::int64_t>(
               join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime))};
  return true;
}

// The parsed file, from the cache while it has not changed; null when the file is missing
// (missing is then set) or cannot be read.
std::shared_ptr<const IniFile> Load(const std::wstring& path, bool& missing) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  missing = !file.IsOpen() && GetLastError() == ERROR_FILE_NOT_FOUND;
  FileStamp stamp;
  // Only a file on disk is read: a pipe or a device could keep the read waiting for good.
  if (!file.IsOpen() || GetFileType(file.get()) != FILE_TYPE_DISK || !StampOf(file.get(), stamp) ||
      stamp.size >= MAXLONG) {
    return nullptr;
  }
  if (auto cached = SharedProfileCache().Find(path, stamp)) return cached;
  std::string bytes(static_cast<std::size_t>(stamp.size), '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
      got != bytes.size()) {
    return nullptr;
  }
  auto parsed = std::make_shared<const IniFile>(std::move(bytes));
  SharedProfileCache().Store(path, stamp, parsed);
  return parsed;
}

// Writes bytes into the existing empty file at path; stamp is then the file's stamp, which
// a rename leaves as it is.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes, FileStamp& stamp) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const bool done =
      file.IsOpen() && bytes.size() < MAXLONG &&
      WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size() && FlushFileBuffers(file.get()) && StampOf(file.get(), stamp);
  return file.Close() && done;
}

// Writes bytes to a new file beside path and renames it over path, so that a reader finds
// the old file or the new one and never a part. A read-only file, or one open without delete
// sharing, stays as it was. (ReplaceFileW, which would also keep the old file's security, can
// leave neither file under the old name when it fails half way.)
bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes, FileStamp& stamp) {
  const std::wstring parent = ParentOf(path);
  const std::wstring dir = parent.empty() ? L"." : parent;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);  // a rename would not ask, under some systems
    return false;
  }
  const std::wstring temp = CreateTempFileName(dir, L"kvi");
  if (temp.empty()) return false;
  // The new file keeps the old one's attributes (hidden, say); its security is the folder's.
  const bool replaced =
      WriteFileBytes(temp, bytes, stamp) &&
      (attributes == INVALID_FILE_ATTRIBUTES || SetFileAttributesW(temp.c_str(), attributes)) &&
      MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!replaced) DeleteFileW(temp.c_str());
  return replaced;
}

}  // namespace

ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path) {
  const std::lock_guard<std::mutex> hold(SharedProfileLock());
  bool missing = false;
  const auto file = Load(path, missing);
  return file ? file->SectionEntries(section) : ProfileEntries();
}

bool WriteProfileEntries(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path) {
  if (HasLineBreak(section, entries)) return false;
  const std::lock_guard<std::mutex> hold(SharedProfileLock());
  bool missing = false;
  auto old = Load(path, missing);
  if (!old && !missing) return false;  // never replace a file that could not be read
  if (!old) old = std::make_shared<const IniFile>();
  auto edited = entries.empty() ? std::make_shared<const IniFile>(old->WithoutSection(section))
                                : std::make_shared<const IniFile>(*old, section, entries);
  const std::string& bytes = edited->Bytes();
  if (bytes == old->Bytes() && (!missing || bytes.empty())) return true;
  SharedProfileCache().Forget(path);
  FileStamp written;
  if (!ReplaceWholeFile(path, bytes, written)) return false;
  SharedProfileCache().Store(path, written, std::move(edited));
  return true;
}

bool StreamProfileSection(const std::wstring& section, const std::wstring& path,
                          const ProfileLineSink& onLine) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // As in Load: only a file on disk is read.
  if (!file.IsOpen() || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  IniSectionStream stream(section, onLine);
  std::string piece(std::size_t{1} << 20, '\0');
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) {
      return false;
    }
    if (got == 0) break;
    if (!stream.Feed(std::string_view(piece.data(), got))) return true;
  }
  stream.Finish();
  return true;
}

}  // namespace platform
