// Whether a version page may be believed: its signed block, checked under the built-in keys
// before any of its fields is used, then its fields against the page it came in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/trust/release_keys.h"
#include "agent/trust/signed_block.h"

// How late a clock may be against the vendor's before a valid page is refused as expired.
inline constexpr std::int64_t kClockSkewSeconds = 24 * 60 * 60;
// The longest a page may be signed for (the publish tool's bound): a page that expires further
// ahead than this and the skew is refused, so that no page outlives the re-signing for long.
inline constexpr std::int64_t kLongestExpirySeconds = 7 * 24 * 60 * 60;

struct PageExpectation {
  std::string_view channel;         // "ver" for the normal page, "testver" for the test page
  std::wstring_view markerVersion;  // the version the page's markers carry, trimmed
  std::int64_t now = 0;             // seconds since the epoch, UTC
};

// The verified fields of page, or a short reason why not: no signed block, unknown key, bad
// signature, malformed fields, wrong channel, version mismatch, expired, expiring too far
// ahead.
OrWhy<SignedFields> TrustedPageFields(std::string_view page, const PageExpectation& expected,
                                      const ReleaseKeys& keys);
