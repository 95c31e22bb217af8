// The user's language from the locale environment, as the C library would choose it.
#include <cstdlib>
#include <string>

#include "platform/locale.h"
#include "platform/text.h"

namespace platform {
namespace {

struct LocaleNames {
  std::string language;
  std::string country;
};

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty.
std::string UserLocaleText() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// "zh_CN.UTF-8@modifier" -> zh, CN. The C locale (and none at all) is US English.
LocaleNames ParseLocale(const std::string& text) {
  const std::string base = text.substr(0, text.find_first_of(".@"));
  if (base.empty() || base == "C" || base == "POSIX") return {"en", "US"};
  const std::size_t underscore = base.find('_');
  if (underscore == std::string::npos) return {base, ""};
  return {base.substr(0, underscore), base.substr(underscore + 1)};
}

}  // namespace

std::wstring UserLanguageName() { return FromUtf8(ParseLocale(UserLocaleText()).language); }

std::wstring UserCountryName() { return FromUtf8(ParseLocale(UserLocaleText()).country); }

}  // namespace platform
