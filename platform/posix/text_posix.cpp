#include "platform/text.h"

namespace platform {

// UTF-8 plays the part of the ANSI code page here.
std::string ToSystemCodePage(std::wstring_view text) { return ToUtf8(text); }
std::wstring FromSystemCodePage(std::string_view text) { return FromUtf8(text); }

}  // namespace platform
