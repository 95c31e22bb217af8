// The vendor's public release keys, fixed into the agent when it is built: slot 1 the
// current key, slot 2 the next one, so that a key can be replaced without a release that no
// agent could check.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/crypto.h"

struct ReleaseKeys {
  std::array<std::optional<platform::P256PublicPoint>, 2> slots;
  // The lowest seq a page may carry while the installation keeps no record of one (a new or
  // reinstalled agent): the build's own release, so that no older page holds it back.
  std::uint64_t seqFloor = 0;

  // True when the agent was built with at least one key, and so trusts only signed pages.
  bool RequireSignatures() const { return slots[0] || slots[1]; }
  // The key of slot 1 or 2; nullptr when that slot is empty or out of range.
  const platform::P256PublicPoint* Slot(int slot) const;
};

// The public point of a P-256 key given as the base64 text of its SubjectPublicKeyInfo (the
// body of a "PUBLIC KEY" PEM file, without line breaks). nullopt for any other key.
std::optional<platform::P256PublicPoint> PointFromPublicKeyInfo(std::string_view base64);

// Keys from two such texts; an empty text leaves its slot empty. Throws std::invalid_argument
// for a text that is not a P-256 key (the build checks the keys before it fixes them in).
ReleaseKeys ReleaseKeysFrom(std::string_view slot1, std::string_view slot2,
                            std::uint64_t seqFloor = 0);

// The keys this program was built with. Defined by the build (cmake/release_keys.cpp.in), so
// that a program with test keys differs from the product only in that one object.
const ReleaseKeys& BuiltInReleaseKeys();
