// What differs between the platforms at compile time: the path separator and program suffix.
#pragma once

namespace platform {
inline constexpr wchar_t kSep = L'\\';
inline constexpr wchar_t kOtherSep = L'/';
inline constexpr const wchar_t* kProgramSuffix = L".exe";
inline constexpr bool kHasDriveLetters = true;
}  // namespace platform
