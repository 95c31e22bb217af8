// An INI file held as its own bytes plus an index of its sections and keys. Lookups follow
// the Windows profile functions; edits splice the bytes, so every line an edit does not touch
// stays exactly as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace platform {

// kCodePage: no byte-order mark, text in the system's code page for 8-bit text (UTF-8 on
// Linux, the ANSI code page on Windows, as the Windows profile functions read such files).
enum class IniEncoding { kCodePage, kUtf8Bom, kUtf16Le, kUtf16Be };

class IniFile {
 public:
  // Never fails: bytes that are not text of the detected encoding read as replacement
  // characters and are written back unchanged.
  explicit IniFile(std::string bytes);
  // old.WithSection(section, entries), parsed. Only the new lines are parsed; the index of
  // the others is carried over from old, which saves most of the work in a large file.
  IniFile(const IniFile& old, std::wstring_view section, const ProfileEntries& entries);
  // A file that does not exist yet: no byte-order mark, CR LF line ends.
  IniFile() : IniFile(std::string()) {}
  // Text in encoding that has no byte-order mark of its own: whole lines cut from a file.
  IniFile(std::string text, IniEncoding encoding);

  const std::string& Bytes() const { return bytes_; }
  IniEncoding Encoding() const { return encoding_; }

  // The stored value (white space trimmed, quotes kept) of the first key named key in the
  // first section named section; nothing when either is missing or the key line has no '='.
  std::optional<std::wstring> FindValue(std::wstring_view section, std::wstring_view key) const;

  // The lines of the first section named section, without comments and blank lines; a line
  // without '=' gives its text as key and an empty value. Empty when the section is missing.
  ProfileEntries SectionEntries(std::wstring_view section) const;

  // Each edit returns the bytes of the edited file; equal to Bytes() when nothing changes.
  // Sets key (creating the section at the end of the file when missing); leading white
  // space of value is dropped.
  std::string WithValue(std::wstring_view section, std::wstring_view key,
                        std::wstring_view value) const;
  // Replaces the keys of the first section named section by entries (the section is added at
  // the end when missing); later sections of the same name lose their keys.
  std::string WithSection(std::wstring_view section, const ProfileEntries& entries) const;
  // Removes the first section named section: its header and every line up to the next one.
  std::string WithoutSection(std::wstring_view section) const;

 private:
  friend class IniSectionStream;  // walks the sections of one piece after another

  // Names and values are kept as byte ranges of the file and decoded only when asked for:
  // every character that the syntax gives a meaning ('[', ']', '=', ';', white space, line
  // breaks) is ASCII, so the file can be parsed in its own encoding.
  struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
  };
  struct Line {
    std::size_t begin = 0;  // first byte of the text
    std::size_t end = 0;    // byte after the text, where the line break starts
    std::size_t next = 0;   // first byte of the following line
  };
  struct Key {
    Span name;
    Span value;
    bool hasValue = false;
    bool isComment = false;
    std::size_t line = 0;
  };
  // From name hash to position, by open addressing. Of equal names the one inserted first is
  // found first, so inserting in file order makes the first in the file win. The hash is of
  // the whole name, case folded; match tells apart the names that still share one.
  class NameTable {
   public:
    void Build(std::size_t count);
    void Insert(std::uint64_t hash, std::size_t position);
    // The first position of the given hash that match accepts; npos when there is none.
    template <typename Match>
    std::size_t Find(std::uint64_t hash, Match match) const {
      if (slots_.empty()) return npos;
      const std::size_t mask = slots_.size() - 1;
      for (std::size_t i = static_cast<std::size_t>(hash) & mask; slots_[i].position != 0;
           i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.tag == Tag(hash) && match(slot.position - 1)) {
          return slot.position - 1;
        }
      }
      return npos;
    }
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

   private:
    struct Slot {
      std::uint32_t tag = 0;       // the hash bits the slot number does not use
      std::uint32_t position = 0;  // position + 1; 0 marks a free slot
    };
    std::vector<Slot> slots_;
  };
  struct SectionPlace {
    Span name;
    std::size_t header = 0;  // line index of "[name]"; the nameless head has none
    bool hasHeader = false;
    std::size_t lastText = 0;  // last line of the section that is not blank
    std::size_t end = 0;       // line index after the section
    std::size_t firstKey = 0;  // the section's keys in keys_
    std::size_t keyCount = 0;
  };
  struct Section : SectionPlace {
    Section() = default;
    explicit Section(const SectionPlace& place) : SectionPlace(place) {}
    // Name -> key number within the section, built on the first lookup of one of its keys:
    // reading or replacing a whole section needs no index. Never copied from another file,
    // whose readers may be building it.
    mutable NameTable keyIndex;
    mutable bool keyIndexBuilt = false;
  };

  // Inline: the parse calls it for every code unit of the file.
  char32_t Unit(std::size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data()) + at;
    if (unit_ == 1) return p[0];
    return encoding_ == IniEncoding::kUtf16Le ? char32_t{p[0]} | char32_t{p[1]} << 8
                                              : char32_t{p[0]} << 8 | char32_t{p[1]};
  }
  // The first code unit equal to c in [from, to); to when there is none.
  std::size_t FindUnit(std::size_t from, std::size_t to, char32_t c) const;
  Span Trimmed(Span span) const;
  Span TrimmedLeft(Span span) const;
  std::wstring Decode(Span span) const;
  std::uint64_t HashOf(Span span) const;
  bool NameIs(Span span, std::wstring_view name) const;
  void DetectEncodingAndParse();
  void SetEncoding(IniEncoding encoding);
  void ParseText();
  // Adds the lines starting in [from, usable) to lines_.
  void SplitLines(std::size_t from, std::size_t usable);
  void Parse();
  bool CanReplaceInPlace(std::wstring_view name, const Section& s,
                         const ProfileEntries& entries) const;
  void ReplaceSectionOf(const IniFile& old, const Section& s, const ProfileEntries& entries);
  void ParseLine(std::size_t index);
  void BuildIndexes();
  const NameTable& KeyIndex(const Section& section) const;
  const Section* FindSection(std::wstring_view name) const;
  const Key* FindKey(const Section& section, std::wstring_view name) const;
  std::string Encode(std::wstring_view text) const;
  void AppendEncoded(std::string& out, std::wstring_view text) const;
  // A line break when line lineIndex ends the file without one, else nothing.
  std::string BreakIfUnterminated(std::size_t lineIndex) const;
  // "key=value" with leading white space taken off both, encoded.
  std::string KeyLine(std::wstring_view key, std::wstring_view value) const;
  void AppendKeyLine(std::string& out, std::wstring_view key, std::wstring_view value) const;
  // The bytes entries take as new lines, near enough to reserve them in advance.
  std::size_t RoomFor(const ProfileEntries& entries) const;
  // The file's text with a header for section added at its end, with room for keys to
  // follow; the caller ends it with AppendTail.
  std::string WithNewSection(std::wstring_view section, std::size_t room) const;
  // The bytes after the last whole code unit.
  void AppendTail(std::string& out) const { out.append(bytes_, textEnd_, std::string::npos); }
  void AppendEntries(std::string& out, const ProfileEntries& entries) const;

  std::string bytes_;
  IniEncoding encoding_ = IniEncoding::kCodePage;
  std::size_t unit_ = 1;       // bytes per code unit
  std::size_t textStart_ = 0;  // after the byte-order mark
  // The end of the last whole code unit. A UTF-16 file of odd length (cut short, or damaged)
  // ends with half a unit: it is no text, but every edit keeps it as the file's last byte,
  // so a write never gives back less than the file held and new text stays aligned.
  std::size_t textEnd_ = 0;
  std::string lineBreak_;  // as the file writes it, "\r\n" for a new file
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::vector<Key> keys_;  // of every section, in file order
  NameTable sectionIndex_;
  mutable std::mutex keyIndexLock_;  // readers may share one parse
};

// The white space of the profile functions; ^Z is the end-of-file mark of old DOS files.
inline bool IsProfileSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == 0x20;
}
// text without the profile functions' white space at both ends, or at its start.
std::wstring_view TrimProfileSpace(std::wstring_view text);
std::wstring_view TrimProfileSpaceLeft(std::wstring_view text);

// True when text holds CR or LF: written into a profile file, it would start lines of its own.
bool HasLineBreak(std::wstring_view text);
// True when the section name or any key or value of entries has a line break.
bool HasLineBreak(std::wstring_view section, const ProfileEntries& entries);

// Name comparison of the profile functions: case is ignored, independent of the locale.
bool SameProfileName(std::wstring_view a, std::wstring_view b);

}  // namespace platform
