#include "agent/filters/numbered_list.h"

#include "platform/ini_file.h"
#include "platform/numbers.h"

namespace {

wchar_t FoldAsciiCase(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (FoldAsciiCase(text[i]) != FoldAsciiCase(prefix[i])) return false;
  }
  return true;
}

}  // namespace

std::wstring_view EntryFromValue(std::wstring_view raw) {
  return platform::ProfileBufferValue(platform::TrimProfileSpace(raw), kMaxEntryChars + 1);
}

std::size_t IndexOfKey(std::wstring_view key, std::wstring_view keyPrefix, std::size_t maxIndex) {
  key = platform::TrimProfileSpace(key);
  if (!StartsWithIgnoringCase(key, keyPrefix)) return 0;
  const std::wstring_view digits = key.substr(keyPrefix.size());
  if (digits.empty() || digits.front() == L'0') return 0;
  return static_cast<std::size_t>(platform::ParseDecimal(digits, maxIndex).value_or(0));
}

std::wstring NumberedKey(std::wstring_view keyPrefix, std::size_t index) {
  // Built in place: one allocation per key counts when a list has tens of thousands.
  wchar_t digits[20];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + index % 10);
    index /= 10;
  } while (index != 0);
  std::wstring key;
  key.reserve(keyPrefix.size() + count);
  key += keyPrefix;
  while (count > 0) key += digits[--count];
  return key;
}

std::vector<std::size_t> NumberedRun(const std::vector<std::uint32_t>& indexOfLine) {
  // The run from 1 can be no longer than the section, so no larger index matters.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> lineOfIndex(indexOfLine.size() + 1, kNone);
  for (std::size_t line = 0; line < indexOfLine.size(); ++line) {
    const std::size_t index = indexOfLine[line];
    if (index != 0 && index < lineOfIndex.size() && lineOfIndex[index] == kNone) {
      lineOfIndex[index] = line;
    }
  }
  std::vector<std::size_t> run;
  for (std::size_t index = 1; index < lineOfIndex.size() && lineOfIndex[index] != kNone; ++index) {
    run.push_back(lineOfIndex[index]);
  }
  return run;
}

std::vector<std::wstring> NumberedListFromSection(platform::ProfileEntries lines,
                                                  std::wstring_view keyPrefix) {
  std::vector<std::uint32_t> indexOfLine;
  indexOfLine.reserve(lines.size());
  for (const auto& line : lines) {
    indexOfLine.push_back(
        static_cast<std::uint32_t>(IndexOfKey(line.first, keyPrefix, UINT32_MAX)));
  }
  std::vector<std::wstring> list;
  for (const std::size_t line : NumberedRun(indexOfLine)) {
    std::wstring& value = lines[line].second;
    const std::wstring_view entry = EntryFromValue(value);
    if (entry.empty()) break;
    // Most values are stored bare: then the entry is the whole value and moves over as it is.
    if (entry.size() == value.size()) {
      list.push_back(std::move(value));
    } else {
      list.emplace_back(entry);
    }
  }
  return list;
}
