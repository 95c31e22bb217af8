// The filter merge as a run asks for it: only when the unpacked package wants it.
#pragma once

#include "agent/base/layout.h"

// Merges the user's lists with those of the package unpacked in the layout's update
// directory when the package asks for it: "combineFilter" in section "Version" of its
// Resource/version.ini is greater than 0. Otherwise (missing file or key, 0, negative, no
// number) nothing is read or written. Reports nothing.
void CombineFilterLists(const AgentLayout& layout);
