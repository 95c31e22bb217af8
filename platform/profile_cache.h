// Parsed INI files by path, so that a file read again, or edited after a read, is not parsed
// again. An entry serves only while the file keeps the stamp it was parsed with, so a file
// changed by anyone else is parsed anew. Not locked: callers hold their own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/ini_file.h"

namespace platform {

// One version of a file: a rewrite in place changes its size or modification time, a
// replacement by rename its identity (volume and file number).
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t id = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};

class ProfileCache {
 public:
  // The parse of the file at path when it was stored with this stamp; null otherwise.
  std::shared_ptr<const IniFile> Find(const std::wstring& path, const FileStamp& stamp) const;
  void Store(const std::wstring& path, const FileStamp& stamp, std::shared_ptr<const IniFile> file);
  void Forget(const std::wstring& path);

 private:
  static constexpr std::size_t kMaxFiles = 32;
  struct Entry {
    FileStamp stamp;
    std::shared_ptr<const IniFile> file;
  };
  std::unordered_map<std::wstring, Entry> entries_;
};

// The process's one cache of parsed profile files, and the lock that every user of it holds.
ProfileCache& SharedProfileCache();
std::mutex& SharedProfileLock();

}  // namespace platform
