// Numbers and digests read from text that comes from outside (a server's header, a signed
// block, a file list, a key name): one reader of each, so that every field is held to the
// same bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace platform {

// The value of text when it is one or more decimal digits and nothing else (no sign, no
// blank) and at most max; nullopt otherwise, overflow of 64 bits included.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max = UINT64_MAX);
std::optional<std::uint64_t> ParseDecimal(std::wstring_view text, std::uint64_t max = UINT64_MAX);

// bytes[0..size) as 2 * size lower-case hexadecimal digits.
std::string LowerHex(const std::uint8_t* bytes, std::size_t size);

// Fills bytes[0..size) from text of exactly 2 * size lower-case hexadecimal digits; false
// (bytes then partly written) for any other text, upper case included.
bool ParseLowerHex(std::string_view hex, std::uint8_t* bytes, std::size_t size);

// The digest written as 64 lower-case hexadecimal digits (HexDigest's form); nullopt for any
// other text, upper case included.
std::optional<Sha256Digest> ParseHexDigest(std::string_view hex);

}  // namespace platform
