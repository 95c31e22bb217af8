// Text conversions at the system boundary. The core works in std::wstring throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 <-> wide text, whatever the width of wchar_t. Invalid input becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// The system's single-byte code page: the ANSI code page on Windows, UTF-8 elsewhere.
std::string ToSystemCodePage(std::wstring_view text);
std::wstring FromSystemCodePage(std::string_view text);

// name with each character in the upper case Windows compares file names by: the simple
// Unicode mapping, one character for one ("ä" gives "Ä", "σ" gives "Σ", "ß" stays).
// Two names with the same result are one file on Windows. Characters the system knows no
// mapping for stay as they are; where no Unicode case table is at hand (a POSIX system
// without the C.UTF-8 locale) only ASCII letters are mapped.
std::wstring UpperCaseOfName(std::wstring_view name);

// Orders two texts by their UTF-16 code units (as Windows does), on every platform.
int CompareUtf16(std::wstring_view a, std::wstring_view b);

// The number text starts with, read as the C runtime's atol reads a buffer of maxBytes
// bytes of its system code page form: leading white space skipped, an optional sign, then
// decimal digits up to the first other character. 0 when no digit follows; saturates at the
// 64-bit limits instead of overflowing.
std::int64_t LeadingDecimal(std::wstring_view text, std::size_t maxBytes);

// Replaces every occurrence of the other platform's separator by the native one, so that
// the layout names written with backslashes (L"Resource\\version.ini") work everywhere.
std::wstring NativePath(std::wstring_view path);

}  // namespace platform
