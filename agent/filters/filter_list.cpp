#include "agent/filters/filter_list.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

std::size_t HashOf(std::wstring_view value) { return std::hash<std::wstring_view>()(value); }

bool IsFree(std::wstring_view view) { return view.data() == nullptr; }

}  // namespace

std::size_t CFilterList::SlotOf(std::wstring_view value, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (!IsFree(slots_[i].value) && (slots_[i].hash != hash || slots_[i].value != value)) {
    i = (i + 1) & mask;
  }
  return i;
}

void CFilterList::Rehash(std::size_t slotCount) {
  std::vector<Slot> old(slotCount);
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (!IsFree(slot.value)) slots_[SlotOf(slot.value, slot.hash)] = slot;
  }
}

void CFilterList::Reserve(std::size_t count) {
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  if (size > slots_.size()) Rehash(size);
}

// Moves later slots of the same probe run back into the gap, so that no lookup stops short
// at a free slot in the middle of a run.
void CFilterList::FreeSlot(std::size_t slot) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t gap = slot;
  for (std::size_t i = (gap + 1) & mask; !IsFree(slots_[i].value); i = (i + 1) & mask) {
    const std::size_t home = slots_[i].hash & mask;
    // The slot may fill the gap when its home is not cyclically within (gap, i].
    const bool homeBetween = gap <= i ? (gap < home && home <= i) : (gap < home || home <= i);
    if (homeBetween) continue;
    slots_[gap] = slots_[i];
    gap = i;
  }
  slots_[gap] = Slot();
  --distinct_;
}

void CFilterList::AddTail(std::wstring value) {
  entries_.push_back(std::move(value));
  if (2 * (distinct_ + 1) > slots_.size()) Reserve(distinct_ + 1);
  const std::wstring_view added = entries_.back();
  const std::size_t hash = HashOf(added);
  Slot& slot = slots_[SlotOf(added, hash)];
  if (IsFree(slot.value)) {
    slot = {hash, added, 0};  // a std::wstring's data is never null, even when empty
    ++distinct_;
  }
  ++slot.count;
}

CFilterList::const_iterator CFilterList::Find(std::wstring_view value) const {
  if (!Contains(value)) return entries_.end();
  return std::find(entries_.begin(), entries_.end(), value);
}

bool CFilterList::Contains(std::wstring_view value) const {
  return !slots_.empty() && !IsFree(slots_[SlotOf(value, HashOf(value))].value);
}

void CFilterList::RemoveValue(std::wstring_view value) {
  if (slots_.empty()) return;
  const std::size_t at = SlotOf(value, HashOf(value));
  Slot& slot = slots_[at];
  if (IsFree(slot.value)) return;
  const auto first = std::find(entries_.begin(), entries_.end(), value);
  if (--slot.count == 0) {
    FreeSlot(at);
  } else if (slot.value.data() == first->data()) {
    // The slot views the entry about to go: let it view an equal entry that stays.
    slot.value = *std::find(std::next(first), entries_.end(), value);
  }
  entries_.erase(first);
}
