// What differs between the platforms at compile time: the path separator and program suffix.
#pragma once

namespace platform {
inline constexpr wchar_t kSep = L'/';
inline constexpr wchar_t kOtherSep = L'\\';
inline constexpr const wchar_t* kProgramSuffix = L"";
inline constexpr bool kHasDriveLetters = false;
// Characters that a path part may not hold: the wildcards (":" is an ordinary character here).
inline constexpr const wchar_t* kReservedPathChars = L"*?";
}  // namespace platform
