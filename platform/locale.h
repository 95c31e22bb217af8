// The user's default language, for choosing an update package.
#pragma once

#include <string>

namespace platform {

// ISO 639 language name ("zh") and ISO 3166 country name ("CN") of the user's default
// language; "" when not known.
std::wstring UserLanguageName();
std::wstring UserCountryName();

}  // namespace platform
