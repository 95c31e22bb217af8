// Entry point: the arguments arrive as UTF-8 and go on as wide text.
#include <string>
#include <vector>

#include "platform/entry.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  platform::KeepFreedMemoryForReuse();
  platform::RememberArguments(argc, argv);
  std::vector<std::wstring> wide;
  wide.reserve(argc);
  for (int i = 0; i < argc; ++i) wide.push_back(platform::FromUtf8(argv[i]));
  std::vector<wchar_t*> pointers;
  for (auto& w : wide) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  return ProgramMain(argc, pointers.data());
}
