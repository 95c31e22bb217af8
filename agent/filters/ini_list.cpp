#include "agent/filters/ini_list.h"

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "agent/filters/numbered_list.h"
#include "platform/profile.h"

void ReadIniList(const std::wstring& iniPath, const std::wstring& section,
                 const std::wstring& keyPrefix, CFilterList& list) {
  // The file streams past: its lines name their index in any order, so the list's text is
  // kept as it comes and the entries are added in index order once the section is read.
  std::vector<std::uint32_t> indexOfLine;
  std::deque<CFilterList::Text> entryOfLine;  // grows without moving what it holds
  const bool read = platform::StreamProfileSection(
      section, iniPath, [&](std::wstring_view key, std::wstring_view value) {
        const std::size_t index = IndexOfKey(key, keyPrefix, UINT32_MAX);
        indexOfLine.push_back(static_cast<std::uint32_t>(index));
        entryOfLine.push_back(index == 0 ? CFilterList::Text() : list.Keep(EntryFromValue(value)));
      });
  if (!read) return;
  const std::vector<std::size_t> run = NumberedRun(indexOfLine);
  indexOfLine = {};
  list.Reserve(list.GetCount() + run.size());
  for (const std::size_t line : run) {
    const CFilterList::Text& entry = entryOfLine[line];
    if (CFilterList::IsEmptyText(entry)) break;
    list.AddTailIfAbsent(entry);
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
