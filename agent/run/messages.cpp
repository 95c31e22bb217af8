#include "agent/run/messages.h"

#include <algorithm>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

constexpr std::size_t kMessageBufferChars = 256;
constexpr std::uint64_t kLanguageFileLimitBytes = 1 << 20;
constexpr std::wstring_view kWhiteSpace = L" \t\r\n\v\f";

std::wstring_view Trim(std::wstring_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

void AddPiece(std::vector<std::wstring>& pieces, std::wstring_view piece, bool trim,
              bool skipEmpty) {
  if (trim) piece = Trim(piece);
  if (!skipEmpty || !piece.empty()) pieces.emplace_back(piece);
}

// text up to its first zero character. The console output stops there anyway, and would
// drop the line break that follows the text along with the rest.
std::wstring EndAtZero(std::wstring text) {
  text.resize(std::min(text.find(L'\0'), text.size()));
  return text;
}

}  // namespace

std::wstring LoadMessage(const AgentLayout& layout, int n) {
  const std::wstring key = std::to_wstring(n);
  // The profile reader takes a file whole: one larger than any language file, or a link to
  // somewhere else, reads as missing.
  const platform::PathInfo file = platform::QueryPath(layout.GetLanguageFilePath());
  if (file.kind != platform::PathKind::File || file.size > kLanguageFileLimitBytes) return key;
  return EndAtZero(platform::ReadProfileString(L"UpgradeExe", key, key, kMessageBufferChars,
                                               layout.GetLanguageFilePath()));
}

void PrintMessage(const RunInputs& run, int n) {
  if (!run.consoleMode) return;
  for (const std::wstring& piece :
       SplitString(LoadMessage(run.layout, n), kLineMarker, false, false)) {
    platform::WriteOut(piece + L"\n");
  }
}

std::vector<std::wstring> SplitString(std::wstring_view text, std::wstring_view separator,
                                      bool trim, bool skipEmpty) {
  std::vector<std::wstring> pieces;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t found =
        separator.empty() ? std::wstring_view::npos : text.find(separator, position);
    if (found == std::wstring_view::npos) {
      AddPiece(pieces, text.substr(position), trim, skipEmpty);
      break;
    }
    AddPiece(pieces, text.substr(position, found - position), trim, skipEmpty);
    position = found + separator.size();
  }
  return pieces;
}

std::wstring FormatVersionMessage(std::wstring_view text, std::wstring_view version) {
  std::wstring out;
  bool substituted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    if (text[i] == L'%' && next == L'%') {
      out += L'%';
      ++i;
    } else if (text[i] == L'%' && next == L's' && !substituted) {
      out += version;
      substituted = true;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void PrintVersionMessage(const RunInputs& run, const std::wstring& installedVersion) {
  if (!run.consoleMode) return;
  platform::WriteOut(EndAtZero(FormatVersionMessage(LoadMessage(run.layout, 1), installedVersion)) +
                     L"\n");
}
