// The INI reader and editor, in every encoding: a section write that carries the index of
// the other lines over must give the same file, in bytes and in every lookup, as parsing the
// written bytes anew; the other edits must parse and read without failing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/ini_file.h"
#include "platform/ini_section_stream.h"

namespace {

using platform::IniFile;
using platform::ProfileEntries;

bool IsSeparator(char32_t c) {
  return c == '[' || c == ']' || c == '=' || c == '\r' || c == '\n' || c == 0;
}

// Pieces of the file's own text between the characters the syntax gives a meaning, so that
// lookups and writes use names the file holds. A few fixed ones are always there.
std::vector<std::wstring> NamesIn(std::string_view bytes) {
  std::vector<std::wstring> names = {L"", L"S", L"[x]"};
  const bool le = bytes.starts_with("\xFF\xFE");
  const bool wide = le || bytes.starts_with("\xFE\xFF");
  std::u16string units;
  std::string narrow;
  auto flush = [&] {
    if (names.size() >= 6) return;
    if (wide && !units.empty()) names.emplace_back(units.begin(), units.end());
    if (!wide && !narrow.empty()) names.push_back(platform::FromUtf8(narrow));
    units.clear();
    narrow.clear();
  };
  if (wide) {
    for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
      const auto b0 = static_cast<unsigned char>(bytes[at]);
      const auto b1 = static_cast<unsigned char>(bytes[at + 1]);
      const char16_t unit = static_cast<char16_t>(le ? b0 | b1 << 8 : b0 << 8 | b1);
      if (IsSeparator(unit)) {
        flush();
      } else {
        units += unit;
      }
    }
  } else {
    for (char c : bytes) {
      if (IsSeparator(static_cast<unsigned char>(c))) {
        flush();
      } else {
        narrow += c;
      }
    }
  }
  flush();
  return names;
}

// Every lookup and edit of the names gives the same in both; lighter checks only the bytes,
// the sections and the values of the first names, for a second write on top of the first.
void RequireSameFile(const IniFile& kept, const IniFile& fresh,
                     const std::vector<std::wstring>& names, bool lighter) {
  fuzz::Require(kept.Bytes() == fresh.Bytes(), "a kept index writes the fresh bytes");
  const std::size_t keys = lighter ? 3 : names.size();
  for (const std::wstring& section : names) {
    fuzz::Require(kept.SectionEntries(section) == fresh.SectionEntries(section),
                  "a kept index reads the sections of a fresh parse");
    for (std::size_t k = 0; k < keys; ++k) {
      fuzz::Require(kept.FindValue(section, names[k]) == fresh.FindValue(section, names[k]),
                    "a kept index finds the values of a fresh parse");
    }
    if (lighter) continue;
    fuzz::Require(kept.WithValue(section, L"n", L"1") == fresh.WithValue(section, L"n", L"1"),
                  "a kept index adds keys as a fresh parse");
    fuzz::Require(kept.WithoutSection(section) == fresh.WithoutSection(section),
                  "a kept index removes sections as a fresh parse");
  }
}

// The sections not named edited read in the edited bytes as they did before.
void RequireOthersKept(const IniFile& old, const std::string& edited, std::wstring_view section,
                       const std::vector<std::wstring>& names) {
  const IniFile file(edited);
  for (const std::wstring& probe : names) {
    if (platform::SameProfileName(platform::TrimProfileSpace(probe),
                                  platform::TrimProfileSpace(section))) {
      continue;
    }
    fuzz::Require(file.SectionEntries(probe) == old.SectionEntries(probe),
                  "an edit keeps the sections it does not name");
  }
}

// A section read as the file streams in, in pieces of piece bytes, reads as in the whole file.
void RequireStreamedAlike(const IniFile& file, std::wstring_view section, std::size_t piece) {
  ProfileEntries lines;
  platform::IniSectionStream stream(section, [&](std::wstring_view key, std::wstring_view value) {
    lines.emplace_back(key, value);
  });
  const std::string_view bytes = file.Bytes();
  bool more = true;
  for (std::size_t at = 0; more && at < bytes.size(); at += piece) {
    more = stream.Feed(bytes.substr(at, piece));
  }
  if (more) stream.Finish();
  fuzz::Require(lines == file.SectionEntries(section), "a streamed section reads as a whole parse");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // Two bytes choose the writes; the rest is the file.
  const std::size_t choice = data[0] | data[1] << 8;
  const std::string bytes(fuzz::Bytes(data + 2, size - 2));
  const IniFile old(bytes);
  const std::vector<std::wstring> names = NamesIn(bytes);
  fuzz::Require(old.Bytes() == bytes, "a parse keeps the bytes");

  // Entries of the file's own names, none to five of them; the section is one of the names.
  ProfileEntries entries;
  for (std::size_t i = 0; i < choice % 6; ++i) {
    entries.emplace_back(names[(choice / 6 + i) % names.size()],
                         names[(choice / 36 + 2 * i) % names.size()]);
  }
  const std::wstring& section = names[(choice >> 8) % names.size()];
  RequireStreamedAlike(old, section, 1 + (choice >> 4) % 16);
  const IniFile kept(old, section, entries);
  RequireSameFile(kept, IniFile(old.WithSection(section, entries)), names, false);
  // A second write on the kept index, of another section.
  const std::wstring& other = names[(choice >> 12) % names.size()];
  const ProfileEntries one = {{L"k", section}};
  RequireSameFile(IniFile(kept, other, one), IniFile(kept.WithSection(other, one)), names, true);

  // No edit changes a section it does not name; a damaged file loses none of its lists.
  RequireOthersKept(old, old.WithValue(section, L"n", L"1"), section, names);
  RequireOthersKept(old, old.WithoutSection(section), section, names);
  const bool headerLike = std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
    return platform::TrimProfileSpaceLeft(entry.first).starts_with(L'[');
  });
  if (!headerLike) RequireOthersKept(old, kept.Bytes(), section, names);
  return 0;
}
