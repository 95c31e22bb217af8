// The filter merge as a run asks for it: only when the unpacked package wants it.
#pragma once

#include <string>

#include "agent/run/hand_over.h"

// Merges the user's lists in userDir with those of the unpacked tree when the package asks
// for it: "combineFilter" in section "Version" of its Resource/version.ini is greater than
// 0. Otherwise (missing file or key, 0, negative, no number) nothing is read or written.
// Reports nothing.
void CombineFilterLists(const std::wstring& userDir, const UnpackedTree& tree);
