// Base64 of the standard alphabet, as signatures and keys are written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The bytes that text encodes, with "=" padding to a multiple of four characters. nullopt for
// any other character (white space included), a wrong length, or padding in the wrong place.
std::optional<std::string> DecodeBase64(std::string_view text);
