#include <io.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/console.h"

namespace platform {
namespace {

void WriteWide(std::wstring_view text, FILE* stream) {
  std::fputws(std::wstring(text).c_str(), stream);
}

}  // namespace

void SetConsoleLocale() { std::setlocale(LC_ALL, ".OCP"); }

void WriteOut(std::wstring_view text) { WriteWide(text, stdout); }

void WriteErr(std::wstring_view text) {
  WriteWide(text, stderr);
  std::fflush(stderr);
}

void WaitForKey() {
  const int fd = _fileno(stdin);
  if (fd < 0 || !_isatty(fd)) return;
  std::fflush(stdout);
  std::getwchar();
}

}  // namespace platform
