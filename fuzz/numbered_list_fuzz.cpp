// Numbered lists: the list read from a whole section equals the one read key by key, as the
// profile read with its buffer gives each value.
#include <cstddef>
#include <cstdint>

#include "agent/filters/numbered_list.h"
#include "fuzz_input.h"
#include "platform/ini_file.h"
#include "platform/profile.h"

namespace {

constexpr std::wstring_view kSection = L"S";
constexpr std::wstring_view kPrefix = L"url";

// One key read as the profile read returns it into a buffer of kMaxEntryChars + 1.
std::wstring ReadOne(const platform::IniFile& file, std::size_t index) {
  const auto stored = file.FindValue(kSection, NumberedKey(kPrefix, index));
  // The buffer rules themselves are held to the Windows read by the profile tests under Wine.
  const std::wstring_view value = stored ? std::wstring_view(*stored) : std::wstring_view();
  return std::wstring(platform::ProfileBufferValue(value, kMaxEntryChars + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::IniFile file{std::string(fuzz::Bytes(data, size))};
  const std::vector<std::wstring> list =
      NumberedListFromSection(file.SectionEntries(kSection), kPrefix);
  for (std::size_t i = 0; i < list.size(); ++i) {
    fuzz::Require(list[i] == ReadOne(file, i + 1), "an entry reads as its key does");
  }
  fuzz::Require(ReadOne(file, list.size() + 1).empty(), "the list ends where the keys do");
  return 0;
}
