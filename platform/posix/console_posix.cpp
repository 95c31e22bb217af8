#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/console.h"

namespace platform {

void SetConsoleLocale() {
  std::setlocale(LC_ALL, "");
  // Under the plain C locale the wide output could not write a single non-ASCII character;
  // UTF-8 plays the part of the console code page here.
  if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
}

void WaitForKey() {
  if (!isatty(STDIN_FILENO)) return;
  std::fflush(stdout);
  std::getwchar();
}

}  // namespace platform
