#include "agent/filters/filter_combiner.h"

#include <utility>

#include "agent/filters/filter_list.h"
#include "agent/filters/ini_list.h"

namespace {

constexpr wchar_t kFilterFile[] = L"Filter.ini";
constexpr wchar_t kFilterFlyFile[] = L"FilterFly.ini";
constexpr wchar_t kPackagePrefix[] = L"2";
constexpr wchar_t kUrlKey[] = L"url";
constexpr wchar_t kPopKey[] = L"pop";
constexpr wchar_t kAnyEntry[] = L"*";

}  // namespace

CFilterCombiner::CFilterCombiner(const std::wstring& userDir,
                                 const std::wstring& packageResourceDir)
    : userDir_(userDir), packageResourceDir_(packageResourceDir) {}

void CFilterCombiner::CombineAll() {
  CombineSection(kFilterFile, L"UrlFilter", kUrlKey);
  CombineUrlUnFilter();
  CombinePopFilter();
  CombinePopUnFilter();
  CombineFlyFilter();
  CombineSection(kFilterFlyFile, L"FlyUnFilter", kUrlKey);
}

void CFilterCombiner::CombineSection(const std::wstring& fileName, const std::wstring& section,
                                     const std::wstring& keyPrefix) {
  CFilterList list;
  ReadIniList(packageResourceDir_ + kPackagePrefix + fileName, section, keyPrefix, list);
  ReadIniList(userDir_ + fileName, section, keyPrefix, list);
  WriteIniList(userDir_ + fileName, section, keyPrefix, std::move(list));
}

void CFilterCombiner::CombineFlyFilter() {
  const std::wstring section = L"FlyFilter";
  CFilterList list;
  ReadIniList(packageResourceDir_ + kFilterFlyFile, section, kUrlKey, list);
  list.RemoveValue(kAnyEntry);
  ReadIniList(userDir_ + kFilterFlyFile, section, kUrlKey, list);
  WriteIniList(userDir_ + kFilterFlyFile, section, kUrlKey, std::move(list));
}

void CFilterCombiner::CombineUrlUnFilter() { CombineSection(kFilterFile, L"UrlUnFilter", kUrlKey); }

void CFilterCombiner::CombinePopFilter() { CombineSection(kFilterFile, L"PopFilter", kPopKey); }

void CFilterCombiner::CombinePopUnFilter() { CombineSection(kFilterFile, L"PopUnFilter", kPopKey); }
