#include <windows.h>

#include "platform/text.h"

namespace platform {

std::string ToSystemCodePage(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

std::wstring FromSystemCodePage(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

std::wstring UpperCaseOfName(std::wstring_view name) {
  std::wstring upper(name);
  // The invariant upper case maps one UTF-16 unit to one, as the file system's table does.
  if (!name.empty() &&
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(),
                    static_cast<int>(name.size()), upper.data(), static_cast<int>(upper.size()),
                    nullptr, nullptr, 0) != static_cast<int>(name.size())) {
    upper = name;
    for (wchar_t& c : upper) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - (L'a' - L'A'));
    }
  }
  return upper;
}

}  // namespace platform
