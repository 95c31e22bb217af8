// The reading of version texts: markers, trimming and the atol-like number.
#include "agent/run/version_value.h"

#include <algorithm>
#include <cwctype>
#include <limits>

#include "platform/text.h"

namespace {

// The conversion buffer of a version text holds 20 bytes, terminator included.
constexpr std::size_t kVersionTextBytes = 19;

}  // namespace

std::wstring ExtractBetween(std::wstring_view text, std::wstring_view startMarker,
                            std::wstring_view endMarker) {
  const std::size_t start = text.find(startMarker);
  if (start == std::wstring_view::npos) return {};
  const std::wstring_view rest = text.substr(start + startMarker.size());
  if (endMarker.empty()) return std::wstring(rest);
  return std::wstring(rest.substr(0, rest.find(endMarker)));
}

std::wstring TrimTrailingSpace(std::wstring_view text) {
  std::size_t end = text.size();
  while (end > 0 && std::iswspace(static_cast<std::wint_t>(text[end - 1]))) --end;
  return std::wstring(text.substr(0, end));
}

std::wstring PageVersion(std::wstring_view page) {
  return TrimTrailingSpace(ExtractBetween(page, kVersionStartMarker, kVersionEndMarker));
}

std::int32_t VersionValue(std::wstring_view versionText) {
  const std::int64_t value = platform::LeadingDecimal(versionText, kVersionTextBytes);
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

VersionCheckResult CompareVersions(std::wstring_view installedVersion,
                                   std::wstring_view serverVersion) {
  const std::wstring server = TrimTrailingSpace(serverVersion);
  const std::wstring installed = TrimTrailingSpace(installedVersion);
  if (server.empty()) return VersionCheckResult::CheckFailed;
  if (installed.empty()) return VersionCheckResult::UpdateAvailable;
  return VersionValue(installed) >= VersionValue(server) ? VersionCheckResult::UpToDate
                                                         : VersionCheckResult::UpdateAvailable;
}
