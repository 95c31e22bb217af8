// What a signed agent remembers of the pages it believed: per channel the highest seq and a
// digest of its signed bytes, so that an older page, or another page under a seq already
// seen, cannot hold the installation on an old release. Kept in the data directory as
// "release.seen", a state record (platform/state_record.h):
//
//   kivo9-seen 1
//   ver 1765238400 <64 lower-case hex digits: SHA-256 of the signed bytes>
//   testver 1765238500 <...>
//   sum <64 lower-case hex digits: SHA-256 of every byte before this line>
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/crypto.h"
#include "platform/outcome.h"

struct SeenPage {
  std::uint64_t seq = 0;
  platform::Sha256Digest signedBytes{};
};

// Per channel ("ver", "testver") the page seen with the highest seq.
using ReleaseRecord = std::map<std::string, SeenPage>;

// The record's text, and back. A text that is not one whole record (cut, altered, another
// form) reads as no record at all: nothing of it is trusted.
std::string FormatReleaseRecord(const ReleaseRecord& record);
ReleaseRecord ParseReleaseRecord(const std::string& text);

// Why a page of channel with seq and the digest of its signed bytes is older than what the
// installation has believed: a lower seq than the one recorded, the same seq with other
// bytes, or, with no record for the channel, a seq below floor. Ok when it may be believed.
Outcome ReplayProblem(const ReleaseRecord& record, const std::string& channel, const SeenPage& page,
                      std::uint64_t floor);

// The record at path; empty when it is missing or damaged.
ReleaseRecord ReadReleaseRecord(const std::wstring& path);

// Writes record to path durably: beside it, flushed, then renamed over it, so that a kill
// leaves the old record or the new one. False when that fails (the old record then stays).
bool WriteReleaseRecord(const std::wstring& path, const ReleaseRecord& record);
