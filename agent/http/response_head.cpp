#include "agent/http/response_head.h"

#include <cwctype>
#include <vector>

#include "platform/numbers.h"
#include "platform/text.h"

namespace {

constexpr wchar_t kLocation[] = L"Location: ";
constexpr std::size_t kLocationLength = sizeof(kLocation) / sizeof(wchar_t) - 1;

bool StartsWithNoCase(const std::wstring& line, const std::wstring& prefix) {
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::towlower(line[i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

// Decimal digits surrounded by optional blanks; nothing for anything else or an overflow.
std::optional<std::uint64_t> ParseLength(const std::wstring& text) {
  const std::size_t begin = text.find_first_not_of(L" \t");
  const std::size_t end = text.find_last_not_of(L" \t\r");
  if (begin == std::wstring::npos || end < begin) return std::nullopt;
  return platform::ParseDecimal(std::wstring_view(text).substr(begin, end - begin + 1));
}

}  // namespace

int StatusNumber(const std::wstring& text) {
  int status = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (status > 99999) return 0;  // no status has so many digits
    status = status * 10 + (text[i] - L'0');
  }
  return status;
}

bool FindRedirectLocation(const std::wstring& rawHeaders, std::wstring& location) {
  // Only a header line named so counts, not the same text inside another header's value.
  std::size_t found = rawHeaders.find(kLocation);
  while (found != std::wstring::npos && found != 0 && rawHeaders[found - 1] != L'\n') {
    found = rawHeaders.find(kLocation, found + 1);
  }
  if (found == std::wstring::npos) return false;
  location = rawHeaders.substr(found + kLocationLength);
  const std::size_t lineFeed = location.find(L'\n');
  if (lineFeed != std::wstring::npos && lineFeed != 0) location.resize(lineFeed);
  return true;
}

namespace {

// The values of every header line of that name (ending in ':'), as the lines give them.
std::vector<std::wstring> HeaderValues(const std::wstring& rawHeaders, const std::wstring& name) {
  std::vector<std::wstring> values;
  std::size_t start = rawHeaders.find(L'\n');  // the status line declares nothing
  while (start != std::wstring::npos && start + 1 < rawHeaders.size()) {
    const std::size_t end = rawHeaders.find(L'\n', start + 1);
    const std::wstring line = rawHeaders.substr(
        start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    if (StartsWithNoCase(line, name)) values.push_back(line.substr(name.size()));
    start = end;
  }
  return values;
}

std::vector<std::wstring> ContentLengthValues(const std::wstring& rawHeaders) {
  return HeaderValues(rawHeaders, L"Content-Length:");
}

// The value without the blanks around it and the line's carriage return.
std::wstring Trimmed(const std::wstring& value) {
  const std::size_t begin = value.find_first_not_of(L" \t");
  if (begin == std::wstring::npos) return L"";
  return value.substr(begin, value.find_last_not_of(L" \t\r") - begin + 1);
}

}  // namespace

std::optional<std::uint64_t> DeclaredContentLength(const std::wstring& rawHeaders) {
  const auto values = ContentLengthValues(rawHeaders);
  if (values.empty()) return std::nullopt;
  return ParseLength(values.front());
}

bool LengthsContradict(const std::wstring& rawHeaders) {
  const auto values = ContentLengthValues(rawHeaders);
  for (const std::wstring& value : values) {
    if (ParseLength(value) != ParseLength(values.front())) return true;
  }
  return false;
}

bool IsStrongEntityTag(std::string_view tag) {
  if (tag.size() < 2 || tag.size() > 128 || tag.front() != '"' || tag.back() != '"') return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    const bool inner = i > 0 && i + 1 < tag.size();
    if (tag[i] <= ' ' || tag[i] >= 0x7F || (inner && tag[i] == '"')) return false;
  }
  return true;
}

std::string StrongEntityTag(const std::wstring& rawHeaders) {
  const auto values = HeaderValues(rawHeaders, L"ETag:");
  if (values.empty()) return "";
  const std::string tag = platform::ToUtf8(Trimmed(values.front()));
  return IsStrongEntityTag(tag) ? tag : "";
}

std::optional<ContentRange> DeclaredContentRange(const std::wstring& rawHeaders) {
  const auto values = HeaderValues(rawHeaders, L"Content-Range:");
  if (values.size() != 1) return std::nullopt;
  const std::wstring value = Trimmed(values.front());
  static const std::wstring kUnit = L"bytes ";
  const std::size_t dash = value.find(L'-');
  const std::size_t slash = value.find(L'/');
  if (value.compare(0, kUnit.size(), kUnit) != 0 || dash == std::wstring::npos ||
      slash == std::wstring::npos || slash < dash) {
    return std::nullopt;
  }
  const std::wstring_view text(value);
  const auto first = platform::ParseDecimal(text.substr(kUnit.size(), dash - kUnit.size()));
  const auto last = platform::ParseDecimal(text.substr(dash + 1, slash - dash - 1));
  const auto complete = platform::ParseDecimal(text.substr(slash + 1));
  if (!first || !last || !complete || *first > *last || *last >= *complete) return std::nullopt;
  return ContentRange{*first, *last, *complete};
}
