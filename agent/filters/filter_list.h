// One filter list while it is merged: an ordered list of entries that allows equal entries.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <vector>

// Entries are equal when they hold the same code units in the same order; case counts.
// Beside the ordered entries the list counts each distinct value, so the question "is this
// value already in the list?" costs one hash lookup however long the list grows.
class CFilterList {
 public:
  using const_iterator = std::list<std::wstring>::const_iterator;

  CFilterList() = default;
  CFilterList(const CFilterList&) = delete;
  CFilterList& operator=(const CFilterList&) = delete;

  // Appends value at the tail, also when an equal entry is already held.
  void AddTail(std::wstring value);

  // The first entry equal to value, searching from the head; end() when there is none.
  const_iterator Find(std::wstring_view value) const;

  // True when some entry equals value.
  bool Contains(std::wstring_view value) const;

  // Removes the first entry equal to value; does nothing when there is none.
  void RemoveValue(std::wstring_view value);

  // Makes room for count distinct values, so that filling the list does not rehash.
  void Reserve(std::size_t count);

  // Empties the list, handing its entries over in order.
  std::list<std::wstring> TakeEntries();

  std::size_t GetCount() const { return entries_.size(); }
  bool IsEmpty() const { return entries_.empty(); }

  // The walk from head to tail.
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  // Each distinct value, as one of its entries (list nodes never move). Kept in one flat
  // table probed linearly: a lookup touches one slot and, on a hash match, the entry's text,
  // and adding costs no allocation.
  struct Slot {
    std::size_t hash = 0;
    const std::wstring* entry = nullptr;  // null marks a free slot
  };

  // The slot holding value, or the free slot where it would go.
  std::size_t SlotOf(std::wstring_view value, std::size_t hash) const;
  void Rehash(std::size_t slotCount);
  void FreeSlot(std::size_t slot);

  std::list<std::wstring> entries_;
  std::vector<Slot> slots_;  // a power of two in size, never more than half full
  std::size_t distinct_ = 0;
};
