#include "agent/filters/ini_list.h"

#include <utility>
#include <vector>

#include "agent/filters/numbered_list.h"
#include "platform/files.h"
#include "platform/profile.h"

void ReadIniList(const std::wstring& iniPath, const std::wstring& section,
                 const std::wstring& keyPrefix, CFilterList& list) {
  if (!platform::PathQuery(iniPath)) return;
  std::vector<std::wstring> entries =
      NumberedListFromSection(platform::ReadProfileSection(section, iniPath), keyPrefix);
  list.Reserve(list.GetCount() + entries.size());
  for (std::wstring& entry : entries) {
    if (!list.Contains(entry)) list.AddTail(std::move(entry));
  }
}

void WriteIniList(const std::wstring& iniPath, const std::wstring& section,
                  const std::wstring& keyPrefix, CFilterList&& list) {
  platform::ProfileEntries keys;
  keys.reserve(list.GetCount());
  for (std::wstring& entry : list.TakeEntries()) {
    keys.emplace_back(NumberedKey(keyPrefix, keys.size() + 1), std::move(entry));
  }
  // One write for the whole section: stopping half way can no longer leave it half written.
  platform::WriteProfileEntries(section, keys, iniPath);
}
