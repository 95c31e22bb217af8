// The console writers, the same on every platform: the runtime's wide output converts for
// the console by the locale SetConsoleLocale set.
#include "platform/console.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace platform {
namespace {

void WriteWide(std::wstring_view text, FILE* stream) {
  std::fputws(std::wstring(text).c_str(), stream);
}

}  // namespace

void WriteOut(std::wstring_view text) { WriteWide(text, stdout); }

void WriteErr(std::wstring_view text) {
  WriteWide(text, stderr);
  std::fflush(stderr);
}

}  // namespace platform
