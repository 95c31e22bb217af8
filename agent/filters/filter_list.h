// One filter list while it is merged: an ordered list of entries that allows equal entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Entries are equal when they hold the same code units in the same order; case counts.
// Beside the ordered entries the list counts each distinct value, so the question "is this
// value already in the list?" costs one hash lookup however long the list grows. A list may
// hold millions of entries (a user's file of hundreds of megabytes): their text is packed,
// each code unit in one byte when it is ASCII, in large blocks, and an entry costs a few
// bytes besides.
class CFilterList {
 public:
  // Where a text the list holds lies, packed; from Keep, for AddTailIfAbsent.
  struct Text {
    std::uint32_t block = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;  // in bytes
  };

  // Walks the entries from head to tail, giving each as a new string.
  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = std::wstring;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::wstring;

    const_iterator() = default;
    std::wstring operator*() const;
    const_iterator& operator++();
    const_iterator& operator--();
    const_iterator operator++(int);
    bool operator==(const const_iterator& other) const = default;

   private:
    friend class CFilterList;
    const_iterator(const CFilterList* list, std::size_t at) : list_(list), at_(at) {}
    const CFilterList* list_ = nullptr;
    std::size_t at_ = 0;  // into entries_; entries_.size() at the end
  };

  CFilterList() = default;
  CFilterList(const CFilterList&) = delete;
  CFilterList& operator=(const CFilterList&) = delete;

  // Appends value at the tail, also when an equal entry is already held.
  void AddTail(std::wstring_view value);

  // Holds value's text without adding an entry, for a reader that learns the entries in
  // another order than they are added; the text stays until the list is emptied.
  Text Keep(std::wstring_view value);
  // Appends the kept text at the tail unless an equal entry is already held; true when added.
  bool AddTailIfAbsent(const Text& text);
  // True when the kept text is empty.
  static bool IsEmptyText(const Text& text) { return text.size == 0; }

  // The first entry equal to value, searching from the head; end() when there is none.
  const_iterator Find(std::wstring_view value) const;

  // True when some entry equals value.
  bool Contains(std::wstring_view value) const;

  // Removes the first entry equal to value; does nothing when there is none.
  void RemoveValue(std::wstring_view value);

  // Makes room for count entries, so that filling the list moves and rehashes nothing.
  void Reserve(std::size_t count);

  // Empties the list, handing its entries over in order.
  std::list<std::wstring> TakeEntries();

  std::size_t GetCount() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  const_iterator begin() const;
  const_iterator end() const { return const_iterator(this, entries_.size()); }

 private:
  struct Entry {
    Text text;
    bool removed = false;  // removed entries keep their place, so no entry ever moves
  };
  // Each distinct value, as the number of one of its entries. Probed linearly; tag holds the
  // hash bits the slot number does not use, so a lookup reads an entry's text only on a match.
  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t entry = 0;  // entry number + 1; 0 marks a free slot
  };

  std::string_view Bytes(const Text& text) const;
  std::wstring Decode(const Text& text) const;
  // The slot holding bytes (packed), or the free slot where they would go.
  std::size_t SlotOf(std::string_view bytes, std::uint64_t hash) const;
  void Rehash(std::size_t slotCount);
  void ReserveSlots(std::size_t count);
  void FreeSlot(std::size_t slot);
  void Append(const Text& text, std::uint64_t hash, std::size_t slot);
  std::size_t FirstEqual(std::string_view bytes) const;

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockUsed_ = 0;  // bytes used of the last block
  std::size_t blockSize_ = 0;  // bytes of the last block
  std::vector<Entry> entries_;
  std::size_t count_ = 0;     // entries not removed
  std::vector<Slot> slots_;   // a power of two in size, never more than half full
  std::size_t distinct_ = 0;  // slots in use
};
