#include "agent/run/combine_filter_lists.h"

#include "agent/filters/filter_combiner.h"
#include "platform/profile.h"

void CombineFilterLists(const std::wstring& userDir, const UnpackedTree& tree) {
  if (platform::ReadProfileInt(L"Version", L"combineFilter", 0, tree.markerPath) <= 0) return;
  CFilterCombiner(userDir, tree.resourceDir).CombineAll();
}
