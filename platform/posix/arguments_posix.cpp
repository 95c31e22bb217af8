// The process command line, rebuilt from the arguments the program was started with.
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/entry.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {
namespace {
std::vector<std::wstring>& Arguments() {
  static std::vector<std::wstring> arguments;
  return arguments;
}
}  // namespace

void RememberArguments(int argc, char** argv) {
  Arguments().clear();
  for (int i = 0; i < argc; ++i) Arguments().push_back(FromUtf8(argv[i]));
}

std::wstring ProcessCommandLine() { return JoinArguments(Arguments()); }

}  // namespace platform
