// The user's default language from the locale tables of Windows.
#include <windows.h>

#include <string>

#include "platform/locale.h"

namespace platform {
namespace {

// Buffers start zero-filled, so a lookup that fails gives an empty text.
template <int Chars>
std::wstring UserLocaleInfo(LCTYPE item) {
  const LCID locale = MAKELCID(GetUserDefaultLangID(), SORT_DEFAULT);
  wchar_t buffer[Chars] = {};
  GetLocaleInfoW(locale, item, buffer, Chars);
  return std::wstring(buffer, wcsnlen(buffer, Chars));
}

}  // namespace

std::wstring UserLanguageName() { return UserLocaleInfo<260>(LOCALE_SISO639LANGNAME); }

std::wstring UserCountryName() { return UserLocaleInfo<6>(LOCALE_SISO3166CTRYNAME); }

}  // namespace platform
