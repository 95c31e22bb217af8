#include <io.h>

#include <clocale>
#include <cstdio>
#include <cwchar>

#include "platform/console.h"

namespace platform {

void SetConsoleLocale() { std::setlocale(LC_ALL, ".OCP"); }

void WaitForKey() {
  const int fd = _fileno(stdin);
  if (fd < 0 || !_isatty(fd)) return;
  std::fflush(stdout);
  std::getwchar();
}

}  // namespace platform
