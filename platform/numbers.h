// Numbers and digests read from text that comes from outside (a server's header, a signed
// block, a file list, a key name): one reader of each, so that every field is held to the
// same bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/crypto.h"

namespace platform {

// The value of text when it is one or more decimal digits and nothing else (no sign, no
// blank) and at most max; nullopt otherwise, overflow of 64 bits included.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max = UINT64_MAX);
std::optional<std::uint64_t> ParseDecimal(std::wstring_view text, std::uint64_t max = UINT64_MAX);

// The digest written as 64 lower-case hexadecimal digits (HexDigest's form); nullopt for any
// other text, upper case included.
std::optional<Sha256Digest> ParseHexDigest(std::string_view hex);

}  // namespace platform
