// What differs between the platforms at compile time: the path separator and program suffix.
#pragma once

namespace platform {
inline constexpr wchar_t kSep = L'\\';
inline constexpr wchar_t kOtherSep = L'/';
// What ends a directory in a path the system is given: Windows takes either separator.
inline constexpr const wchar_t* kPathSeparators = L"\\/";
inline constexpr const wchar_t* kProgramSuffix = L".exe";
inline constexpr bool kHasDriveLetters = true;
// Characters that a path part may not hold: the wildcards and the drive and stream colon.
inline constexpr const wchar_t* kReservedPathChars = L":*?";
}  // namespace platform
