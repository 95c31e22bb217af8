#include "agent/filters/filter_list.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

// New text goes into blocks of this size; a longer text gets a block of its own.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// Each code unit on its own, seven bits a byte, low bits first, the high bit set on all bytes
// but the last: ASCII stays one byte, and equal packed bytes mean equal code units.
void Pack(std::wstring_view value, std::string& out) {
  out.clear();
  for (const wchar_t c : value) {
    auto unit = static_cast<std::uint32_t>(c);
    while (unit >= 0x80) {
      out += static_cast<char>(0x80 | (unit & 0x7F));
      unit >>= 7;
    }
    out += static_cast<char>(unit);
  }
}

std::uint64_t HashOf(std::string_view bytes) { return std::hash<std::string_view>()(bytes); }

std::uint32_t TagOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

}  // namespace

std::string_view CFilterList::Bytes(const Text& text) const {
  return std::string_view(blocks_[text.block].get() + text.offset, text.size);
}

std::wstring CFilterList::Decode(const Text& text) const {
  std::wstring value;
  value.reserve(text.size);
  std::uint32_t unit = 0;
  int shift = 0;
  for (const char byte : Bytes(text)) {
    const auto b = static_cast<unsigned char>(byte);
    unit |= static_cast<std::uint32_t>(b & 0x7F) << shift;
    shift += 7;
    if (b < 0x80) {
      value += static_cast<wchar_t>(unit);
      unit = 0;
      shift = 0;
    }
  }
  return value;
}

CFilterList::Text CFilterList::Keep(std::wstring_view value) {
  thread_local std::string packed;
  Pack(value, packed);
  if (blocks_.empty() || blockSize_ - blockUsed_ < packed.size()) {
    blockSize_ = std::max(kBlockBytes, packed.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize_));
    blockUsed_ = 0;
  }
  std::memcpy(blocks_.back().get() + blockUsed_, packed.data(), packed.size());
  const Text text{static_cast<std::uint32_t>(blocks_.size() - 1),
                  static_cast<std::uint32_t>(blockUsed_),
                  static_cast<std::uint32_t>(packed.size())};
  blockUsed_ += packed.size();
  return text;
}

std::size_t CFilterList::SlotOf(std::string_view bytes, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(hash) & mask;
  while (slots_[i].entry != 0 &&
         (slots_[i].tag != TagOf(hash) || Bytes(entries_[slots_[i].entry - 1].text) != bytes)) {
    i = (i + 1) & mask;
  }
  return i;
}

void CFilterList::Rehash(std::size_t slotCount) {
  std::vector<Slot> old(slotCount);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.entry == 0) continue;
    // Every held value is distinct: its place is the first free slot from its home.
    std::size_t i = static_cast<std::size_t>(HashOf(Bytes(entries_[slot.entry - 1].text))) & mask;
    while (slots_[i].entry != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void CFilterList::ReserveSlots(std::size_t count) {
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  if (size > slots_.size()) Rehash(size);
}

void CFilterList::Reserve(std::size_t count) {
  ReserveSlots(count);
  entries_.reserve(count);
}

// Moves later slots of the same probe run back into the gap, so that no lookup stops short
// at a free slot in the middle of a run.
void CFilterList::FreeSlot(std::size_t slot) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t gap = slot;
  for (std::size_t i = (gap + 1) & mask; slots_[i].entry != 0; i = (i + 1) & mask) {
    const std::size_t home = HashOf(Bytes(entries_[slots_[i].entry - 1].text)) & mask;
    // The slot may fill the gap when its home is not cyclically within (gap, i].
    const bool homeBetween = gap <= i ? (gap < home && home <= i) : (gap < home || home <= i);
    if (homeBetween) continue;
    slots_[gap] = slots_[i];
    gap = i;
  }
  slots_[gap] = Slot();
  --distinct_;
}

void CFilterList::Append(const Text& text, std::uint64_t hash, std::size_t slot) {
  entries_.push_back({text, false});
  ++count_;
  if (slots_[slot].entry == 0) {
    slots_[slot] = {TagOf(hash), static_cast<std::uint32_t>(entries_.size())};
    ++distinct_;
  }
}

void CFilterList::AddTail(std::wstring_view value) {
  const Text text = Keep(value);
  if (2 * (distinct_ + 1) > slots_.size()) ReserveSlots(distinct_ + 1);
  const std::uint64_t hash = HashOf(Bytes(text));
  Append(text, hash, SlotOf(Bytes(text), hash));
}

bool CFilterList::AddTailIfAbsent(const Text& text) {
  if (2 * (distinct_ + 1) > slots_.size()) ReserveSlots(distinct_ + 1);
  const std::uint64_t hash = HashOf(Bytes(text));
  const std::size_t slot = SlotOf(Bytes(text), hash);
  if (slots_[slot].entry != 0) return false;
  Append(text, hash, slot);
  return true;
}

std::list<std::wstring> CFilterList::TakeEntries() {
  std::list<std::wstring> taken(begin(), end());
  blocks_.clear();
  blockUsed_ = blockSize_ = 0;
  entries_.clear();
  slots_.clear();
  count_ = distinct_ = 0;
  return taken;
}

std::size_t CFilterList::FirstEqual(std::string_view bytes) const {
  std::size_t at = 0;
  while (at < entries_.size() && (entries_[at].removed || Bytes(entries_[at].text) != bytes)) ++at;
  return at;
}

CFilterList::const_iterator CFilterList::Find(std::wstring_view value) const {
  if (!Contains(value)) return end();
  std::string packed;
  Pack(value, packed);
  return const_iterator(this, FirstEqual(packed));
}

bool CFilterList::Contains(std::wstring_view value) const {
  if (slots_.empty()) return false;
  std::string packed;
  Pack(value, packed);
  return slots_[SlotOf(packed, HashOf(packed))].entry != 0;
}

void CFilterList::RemoveValue(std::wstring_view value) {
  if (slots_.empty()) return;
  std::string packed;
  Pack(value, packed);
  const std::size_t at = SlotOf(packed, HashOf(packed));
  Slot& slot = slots_[at];
  if (slot.entry == 0) return;
  const std::size_t first = FirstEqual(packed);
  entries_[first].removed = true;
  --count_;
  const std::size_t twin = FirstEqual(packed);
  if (twin == entries_.size()) {
    FreeSlot(at);
  } else if (slot.entry == first + 1) {
    slot.entry = static_cast<std::uint32_t>(twin + 1);  // an equal entry that stays takes over
  }
}

CFilterList::const_iterator CFilterList::begin() const {
  const_iterator it(this, 0);
  if (!entries_.empty() && entries_[0].removed) ++it;
  return it;
}

std::wstring CFilterList::const_iterator::operator*() const {
  return list_->Decode(list_->entries_[at_].text);
}

CFilterList::const_iterator& CFilterList::const_iterator::operator++() {
  do {
    ++at_;
  } while (at_ < list_->entries_.size() && list_->entries_[at_].removed);
  return *this;
}

CFilterList::const_iterator& CFilterList::const_iterator::operator--() {
  do {
    --at_;
  } while (at_ > 0 && list_->entries_[at_].removed);
  return *this;
}

CFilterList::const_iterator CFilterList::const_iterator::operator++(int) {
  const_iterator before = *this;
  ++*this;
  return before;
}
