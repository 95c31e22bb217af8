#include "agent/filters/filter_list.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

std::size_t HashOf(std::wstring_view value) { return std::hash<std::wstring_view>()(value); }

}  // namespace

std::size_t CFilterList::SlotOf(std::wstring_view value, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].entry != nullptr && (slots_[i].hash != hash || *slots_[i].entry != value)) {
    i = (i + 1) & mask;
  }
  return i;
}

void CFilterList::Rehash(std::size_t slotCount) {
  std::vector<Slot> old(slotCount);
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.entry != nullptr) slots_[SlotOf(*slot.entry, slot.hash)] = slot;
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
  for (std::size_t i = (gap + 1) & mask; slots_[i].entry != nullptr; i = (i + 1) & mask) {
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
  const std::wstring& added = entries_.back();
  const std::size_t hash = HashOf(added);
  Slot& slot = slots_[SlotOf(added, hash)];
  if (slot.entry == nullptr) {
    slot = {hash, &added};
    ++distinct_;
  }
}

std::list<std::wstring> CFilterList::TakeEntries() {
  slots_.clear();
  distinct_ = 0;
  std::list<std::wstring> taken;
  taken.swap(entries_);
  return taken;
}

CFilterList::const_iterator CFilterList::Find(std::wstring_view value) const {
  if (!Contains(value)) return entries_.end();
  return std::find(entries_.begin(), entries_.end(), value);
}

bool CFilterList::Contains(std::wstring_view value) const {
  return !slots_.empty() && slots_[SlotOf(value, HashOf(value))].entry != nullptr;
}

void CFilterList::RemoveValue(std::wstring_view value) {
  if (slots_.empty()) return;
  const std::size_t at = SlotOf(value, HashOf(value));
  Slot& slot = slots_[at];
  if (slot.entry == nullptr) return;
  const auto first = std::find(entries_.begin(), entries_.end(), value);
  const auto twin = std::find(std::next(first), entries_.end(), value);
  if (twin == entries_.end()) {
    FreeSlot(at);
  } else if (slot.entry == &*first) {
    slot.entry = &*twin;  // the entry about to go gives way to an equal one that stays
  }
  entries_.erase(first);
}
