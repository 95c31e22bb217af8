#include "agent/trust/release_keys.h"

#include <cstring>
#include <stdexcept>

#include "agent/trust/base64.h"

namespace {

// SubjectPublicKeyInfo of id-ecPublicKey on prime256v1, up to the uncompressed point's tag.
constexpr unsigned char kP256InfoPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

std::optional<platform::P256PublicPoint> SlotFrom(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto point = PointFromPublicKeyInfo(text);
  if (!point) throw std::invalid_argument("not a P-256 public key");
  return point;
}

}  // namespace

const platform::P256PublicPoint* ReleaseKeys::Slot(int slot) const {
  if (slot < 1 || slot > 2 || !slots[slot - 1]) return nullptr;
  return &*slots[slot - 1];
}

std::optional<platform::P256PublicPoint> PointFromPublicKeyInfo(std::string_view base64) {
  const auto der = DecodeBase64(base64);
  platform::P256PublicPoint point{};
  if (!der || der->size() != sizeof(kP256InfoPrefix) + point.size()) return std::nullopt;
  if (std::memcmp(der->data(), kP256InfoPrefix, sizeof(kP256InfoPrefix)) != 0) return std::nullopt;
  std::memcpy(point.data(), der->data() + sizeof(kP256InfoPrefix), point.size());
  if (point[0] != 0x04) return std::nullopt;
  return point;
}

ReleaseKeys ReleaseKeysFrom(std::string_view slot1, std::string_view slot2,
                            std::uint64_t seqFloor) {
  return ReleaseKeys{{SlotFrom(slot1), SlotFrom(slot2)}, seqFloor};
}
