#include "platform/text.h"

#include <algorithm>
#include <limits>

#include "platform_native.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

// Used only where wchar_t is 16 bits wide; clang would warn of them elsewhere.
[[maybe_unused]] bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
[[maybe_unused]] bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one UTF-8 sequence at text[i]; advances i. Overlong forms, surrogates and values
// above U+10FFFF are rejected byte by byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || lead > 0xF4) return kReplacement;
  char32_t c = lead & (0x3F >> extra);
  std::size_t j = i;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
      return kReplacement;
    }
    c = (c << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    return kReplacement;
  }
  i = j;
  return c;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  // Paths, nearly every text converted, are ASCII: one pass, no appends one by one.
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](wchar_t c) { return static_cast<std::uint32_t>(c) < 0x80; });
  if (ascii) return std::string(text.begin(), text.end());
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (IsHighSurrogate(c) && i + 1 < text.size() &&
          IsLowSurrogate(static_cast<char32_t>(text[i + 1]) & 0xFFFF)) {
        c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<char32_t>(text[++i]) & 0xFFFF) - 0xDC00);
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return std::wstring(text.begin(), text.end());
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendWide(out, DecodeUtf8(text, i));
  return out;
}

int CompareUtf16(std::wstring_view a, std::wstring_view b) {
  if constexpr (sizeof(wchar_t) == 2) {
    return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
  } else {
    // Code points above U+FFFF become surrogates (0xD800..0xDFFF) in UTF-16, so they sort
    // below U+E000..U+FFFF there; map them to keep the UTF-16 order.
    auto key = [](wchar_t w) -> char32_t {
      const auto c = static_cast<char32_t>(w);
      if (c >= 0x10000) return 0xD800 + ((c - 0x10000) >> 10);
      return c;
    };
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      const char32_t x = key(a[i]);
      const char32_t y = key(b[i]);
      if (x != y) return x < y ? -1 : 1;
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;  // same lead surrogate: order by trail
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  }
}

std::wstring NativePath(std::wstring_view path) {
  std::wstring out(path);
  for (wchar_t& c : out) {
    if (c == kOtherSep) c = kSep;
  }
  return out;
}

std::int64_t LeadingDecimal(std::wstring_view text, std::size_t maxBytes) {
  const std::string bytes = ToSystemCodePage(text).substr(0, maxBytes);
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t i = 0;
  while (i < bytes.size() && isSpace(bytes[i])) ++i;
  const bool negative = i < bytes.size() && bytes[i] == '-';
  if (i < bytes.size() && (bytes[i] == '-' || bytes[i] == '+')) ++i;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    const int digit = bytes[i] - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace platform
