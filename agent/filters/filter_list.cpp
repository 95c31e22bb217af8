#include "agent/filters/filter_list.h"

#include <algorithm>
#include <iterator>

void CFilterList::AddTail(std::wstring value) {
  entries_.push_back(std::move(value));
  ++counts_[entries_.back()];
}

CFilterList::const_iterator CFilterList::Find(std::wstring_view value) const {
  if (!Contains(value)) return entries_.end();
  return std::find(entries_.begin(), entries_.end(), value);
}

bool CFilterList::Contains(std::wstring_view value) const { return counts_.contains(value); }

void CFilterList::RemoveValue(std::wstring_view value) {
  const auto counted = counts_.find(value);
  if (counted == counts_.end()) return;
  const auto first = std::find(entries_.begin(), entries_.end(), value);
  if (--counted->second == 0) {
    counts_.erase(counted);
  } else if (counted->first.data() == first->data()) {
    // The count's key views the entry about to go: let it view an equal entry that stays.
    auto node = counts_.extract(counted);
    node.key() = *std::find(std::next(first), entries_.end(), value);
    counts_.insert(std::move(node));
  }
  entries_.erase(first);
}
