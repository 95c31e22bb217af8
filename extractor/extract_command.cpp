#include "extract_command.h"

namespace unpack {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> ExtractorParameters(std::wstring_view commandLine) {
  std::size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    const std::size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring_view::npos ? commandLine.size() : close + 1;
  }
  while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
  std::vector<std::wstring> parameters;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    if (i == commandLine.size()) break;
    std::wstring parameter;
    for (bool quoted = false; i < commandLine.size() && (quoted || !IsBlank(commandLine[i])); ++i) {
      if (commandLine[i] == L'"') {
        quoted = !quoted;
      } else {
        parameter += commandLine[i];
      }
    }
    parameters.push_back(parameter);
  }
  return parameters;
}

bool IsExtractCommand(const std::vector<std::wstring>& p) {
  return p.size() == 5 && p[0] == L"x" && p[1] == L"-o+" && p[2] == L"-y" && !p[3].empty() &&
         !p[4].empty();
}

}  // namespace unpack
