// The reading of version texts: the markers of a version page, trimming, the atol-like
// number and the decision between two versions. Pure functions of their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class VersionCheckResult : int {
  UpToDate = 1,         // the installed version is not older than the server's
  UpdateAvailable = 0,  // the server's version is newer, or none is installed
  CheckFailed = -1,     // neither version page held a version
};

inline constexpr std::wstring_view kVersionStartMarker = L"Kivo9Version:";
inline constexpr std::wstring_view kVersionEndMarker = L":Kivo9VersionEnd";

// The text after the first startMarker, up to the first endMarker behind it or to the end
// of text when there is none (or endMarker is empty); "" when startMarker does not occur.
std::wstring ExtractBetween(std::wstring_view text, std::wstring_view startMarker,
                            std::wstring_view endMarker);

// text without its trailing wide white space.
std::wstring TrimTrailingSpace(std::wstring_view text);

// The version text between the markers of a page, without trailing white space; "" when
// the page holds none.
std::wstring PageVersion(std::wstring_view page);

// The number a version text starts with, read like atol from at most 19 characters of its
// system code page form: leading white space skipped, an optional sign, then digits. 0 when
// it starts with no digits; a number beyond 32 bits gives the nearest 32-bit value.
std::int32_t VersionValue(std::wstring_view versionText);

// The decision between an installed and a server version text (both trimmed here).
VersionCheckResult CompareVersions(std::wstring_view installedVersion,
                                   std::wstring_view serverVersion);
