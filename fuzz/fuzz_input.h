// What the fuzz targets share: turning the fuzzer's bytes into the texts the code reads, and
// a check that stops the run with a message the crash report shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace fuzz {

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The bytes as UTF-8 text (invalid bytes become U+FFFD), as a page or header arrives decoded.
inline std::wstring WideText(const std::uint8_t* data, std::size_t size) {
  return platform::FromUtf8(Bytes(data, size));
}

// Aborts (the fuzzer then saves the input) when a property of the code does not hold.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
