// Reading the head of an HTTP answer as the platform hands it over (raw lines ending in CRLF).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
