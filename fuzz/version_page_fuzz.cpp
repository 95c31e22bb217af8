// The version page the server sends: the text between the markers, its number, the decision.
#include <cstddef>
#include <cstdint>

#include "agent/run/version_check.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring page = fuzz::WideText(data, size);
  const std::wstring version = PageVersion(page);
  fuzz::Require(version.size() <= page.size(), "the version is part of the page");
  const std::int32_t value = VersionValue(version);
  // A page compared with its own version is never newer; an empty one is a failed check.
  const VersionCheckResult self = CompareVersions(version, version);
  fuzz::Require(self == (TrimTrailingSpace(version).empty() ? VersionCheckResult::CheckFailed
                                                            : VersionCheckResult::UpToDate),
                "a version compares equal to itself");
  // The second half of the page read as the installed version.
  const std::wstring installed = page.substr(page.size() / 2);
  const VersionCheckResult result = CompareVersions(installed, version);
  if (!TrimTrailingSpace(version).empty() && !TrimTrailingSpace(installed).empty()) {
    fuzz::Require((result == VersionCheckResult::UpToDate) == (VersionValue(installed) >= value),
                  "the decision follows the numbers");
  }
  return 0;
}
