#include <locale.h>
#include <wctype.h>

#include "platform/text.h"

namespace platform {

// UTF-8 plays the part of the ANSI code page here.
std::string ToSystemCodePage(std::wstring_view text) { return ToUtf8(text); }
std::wstring FromSystemCodePage(std::string_view text) { return FromUtf8(text); }

std::wstring UpperCaseOfName(std::wstring_view name) {
  // The C library's Unicode case table, whatever locale the process runs in; made once and
  // kept for the life of the process.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  std::wstring upper(name);
  for (wchar_t& c : upper) {
    if (unicode != locale_t{}) {
      c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), unicode));
    } else if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - (L'a' - L'A'));
    }
  }
  return upper;
}

}  // namespace platform
