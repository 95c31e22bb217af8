#include "platform/command_line.h"

namespace platform {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reads the arguments of text from position i onward.
void SplitArgumentsFrom(std::wstring_view text, std::size_t i, std::vector<std::wstring>& out) {
  for (;;) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) return;
    std::wstring arg;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      std::size_t slashes = 0;
      while (i < text.size() && text[i] == L'\\') ++slashes, ++i;
      if (i < text.size() && text[i] == L'"') {
        arg.append(slashes / 2, L'\\');
        if (slashes % 2 == 1) {
          arg += L'"';
        } else if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
          arg += L'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, L'\\');
        if (i < text.size() && (quoted || !IsBlank(text[i]))) arg += text[i++];
      }
    }
    out.push_back(std::move(arg));
  }
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine) {
  std::vector<std::wstring> out;
  std::size_t i = 0;
  std::wstring program;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    const std::size_t end = commandLine.find(L'"', 1);
    program = commandLine.substr(1, end == std::wstring_view::npos ? end : end - 1);
    i = end == std::wstring_view::npos ? commandLine.size() : end + 1;
  } else {
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
    program = commandLine.substr(0, i);
  }
  out.push_back(std::move(program));
  SplitArgumentsFrom(commandLine, i, out);
  return out;
}

std::vector<std::wstring> SplitParameters(std::wstring_view parameters) {
  std::vector<std::wstring> out;
  SplitArgumentsFrom(parameters, 0, out);
  return out;
}

std::wstring QuoteArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote itself escaped.
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');  // they stand before the closing quote
  out += L'"';
  return out;
}

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
  std::wstring out;
  for (const auto& arg : arguments) {
    if (!out.empty()) out += L' ';
    out += QuoteArgument(arg);
  }
  return out;
}

}  // namespace platform
