// How much room a volume has left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The bytes the calling user may still write on the volume that holds directory; nullopt
// when the system cannot tell (a missing directory included).
std::optional<std::uint64_t> FreeDiskBytes(const std::wstring& directory);

}  // namespace platform
