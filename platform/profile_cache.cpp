#include "platform/profile_cache.h"

#include <utility>

namespace platform {

std::shared_ptr<const IniFile> ProfileCache::Find(const std::wstring& path,
                                                  const FileStamp& stamp) const {
  const auto found = entries_.find(path);
  return found != entries_.end() && found->second.stamp == stamp ? found->second.file : nullptr;
}

void ProfileCache::Store(const std::wstring& path, const FileStamp& stamp,
                         std::shared_ptr<const IniFile> file) {
  // A run touches a handful of files; a full cache simply starts again.
  if (entries_.size() >= kMaxFiles && !entries_.contains(path)) entries_.clear();
  entries_[path] = {stamp, std::move(file)};
}

void ProfileCache::Forget(const std::wstring& path) { entries_.erase(path); }

ProfileCache& SharedProfileCache() {
  static ProfileCache cache;
  return cache;
}

std::mutex& SharedProfileLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace platform
