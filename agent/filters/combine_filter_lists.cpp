#include "agent/filters/filter_combiner.h"
#include "agent/run/layout.h"
#include "platform/profile.h"
#include "platform/text.h"

void CombineFilterLists() {
  const std::wstring updateDir = GetUpdateDir();
  const std::wstring versionFile = updateDir + platform::NativePath(L"Resource\\version.ini");
  if (platform::ReadProfileInt(L"Version", L"combineFilter", 0, versionFile) <= 0) return;
  CFilterCombiner(UserDir, updateDir + platform::NativePath(L"Resource\\")).CombineAll();
}
