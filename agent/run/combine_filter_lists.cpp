#include "agent/run/combine_filter_lists.h"

#include "agent/filters/filter_combiner.h"
#include "platform/profile.h"

void CombineFilterLists(const AgentLayout& layout) {
  if (platform::ReadProfileInt(L"Version", L"combineFilter", 0, layout.GetUnpackedMarkerPath()) <=
      0) {
    return;
  }
  CFilterCombiner(layout.UserDir(), layout.GetUpdateResourceDir()).CombineAll();
}
