// Reading the head of an HTTP answer as the platform hands it over (raw lines ending in CRLF).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The status as a number: the leading decimal digits of text; 0 when there are none.
int StatusNumber(const std::wstring& text);

// The target of a redirect: the text after the first "Location: " (case and blank exactly so)
// that begins a header line,
// up to the line feed that follows; the carriage return before it stays. When the text right
// after "Location: " begins with a line feed, or has none, the whole rest is the location.
// Returns false when the head holds no "Location: ".
bool FindRedirectLocation(const std::wstring& rawHeaders, std::wstring& location);

// The body length the answer declares in its (first) Content-Length header (name in any
// case); nothing when it declares none or no valid number.
std::optional<std::uint64_t> DeclaredContentLength(const std::wstring& rawHeaders);

// True when the answer carries Content-Length headers that disagree, so that its framing
// cannot be trusted: such an answer is refused.
bool LengthsContradict(const std::wstring& rawHeaders);

// The answer's entity tag when it is strong and plain: the first ETag value, quotes included,
// of at most 128 printable ASCII characters. "" when there is none, it is weak ("W/...") or
// anything else, since only a strong tag may guard a range (If-Range).
std::string StrongEntityTag(const std::wstring& rawHeaders);
// Whether tag is such a tag: quoted, at most 128 printable ASCII characters, no inner quote.
bool IsStrongEntityTag(std::string_view tag);

// The span a 206 answer declares ("Content-Range: bytes first-last/complete").
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t complete = 0;
  bool operator==(const ContentRange&) const = default;
};
// The one Content-Range of the answer; nothing when it has none, several, or one that is not
// a whole byte span with first <= last < complete.
std::optional<ContentRange> DeclaredContentRange(const std::wstring& rawHeaders);
