// An INI file held as its own bytes plus an index of its sections and keys. Lookups follow
// the Windows profile functions; edits splice the bytes, so every line an edit does not touch
// stays exactly as it was.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/profile.h"

namespace platform {

enum class IniEncoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };

class IniFile {
 public:
  // Never fails: bytes that are not text of the detected encoding read as U+FFFD and are
  // written back unchanged.
  explicit IniFile(std::string bytes);
  // A file that does not exist yet: UTF-8 without a byte-order mark, CR LF line ends.
  IniFile() : IniFile(std::string()) {}
  // Names and values are views of text_, so an IniFile stays where it was made.
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  const std::string& Bytes() const { return bytes_; }
  IniEncoding Encoding() const { return encoding_; }

  // The stored value (white space trimmed, quotes kept) of the first key named key in the
  // first section named section; nothing when either is missing or the key line has no '='.
  std::optional<std::wstring_view> FindValue(std::wstring_view section,
                                             std::wstring_view key) const;

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
  struct Line {
    std::size_t begin = 0;      // first byte of the text
    std::size_t end = 0;        // byte after the text, where the line break starts
    std::size_t next = 0;       // first byte of the following line
    std::size_t textBegin = 0;  // the decoded text in text_
    std::size_t textEnd = 0;
  };
  // Hashing and equality of names without regard to case, without folded copies.
  struct NameHash {
    std::size_t operator()(std::wstring_view name) const;
  };
  struct NameEqual {
    bool operator()(std::wstring_view a, std::wstring_view b) const;
  };
  using NameIndex = std::unordered_map<std::wstring_view, std::size_t, NameHash, NameEqual>;
  struct Key {
    std::wstring_view name;
    std::wstring_view value;
    bool hasValue = false;
    bool isComment = false;
    std::size_t line = 0;
  };
  struct Section {
    std::wstring_view name;
    std::size_t header = 0;  // line index of "[name]"; the nameless head has none
    bool hasHeader = false;
    std::size_t lastText = 0;  // last line of the section that is not blank
    std::size_t end = 0;       // line index after the section
    std::vector<Key> keys;
    NameIndex keyIndex;  // name -> first key of that name
  };

  void SplitLines();
  void DecodeLines();
  void Parse();
  void ParseLine(std::size_t index, std::wstring_view text);
  const Section* FindSection(std::wstring_view name) const;
  void AppendLineText(const Line& line);
  std::string Encode(std::wstring_view text) const;
  // A line break when line lineIndex ends the file without one, else nothing.
  std::string BreakIfUnterminated(std::size_t lineIndex) const;
  std::string KeyLine(std::wstring_view key, std::wstring_view value) const;
  std::string AppendSection(std::wstring_view section, const std::string& body) const;

  std::string bytes_;
  IniEncoding encoding_ = IniEncoding::kUtf8;
  std::size_t textStart_ = 0;  // after the byte-order mark
  std::string lineBreak_;      // as the file writes it, "\r\n" for a new file (in UTF-8)
  std::vector<Line> lines_;
  std::wstring text_;  // every line's text, decoded
  std::vector<Section> sections_;
  NameIndex sectionIndex_;  // name -> first section of that name
};

// Name comparison of the profile functions: case is ignored, independent of the locale.
bool SameProfileName(std::wstring_view a, std::wstring_view b);

}  // namespace platform
