#include "agent/trust/page_trust.h"

#include "platform/text.h"

std::optional<SignedFields> TrustedPageFields(std::string_view page,
                                              const PageExpectation& expected,
                                              const ReleaseKeys& keys, std::string& why) {
  const auto block = FindSignedBlock(page, why);
  if (!block) return std::nullopt;
  const platform::P256PublicPoint* key = keys.Slot(block->keySlot);
  if (key == nullptr) {
    why = "signed with unknown key k" + std::to_string(block->keySlot);
    return std::nullopt;
  }
  if (!platform::VerifyP256Signature(*key, block->signedBytes, block->signature)) {
    why = "bad signature";
    return std::nullopt;
  }
  auto fields = ParseSignedFields(block->signedBytes, why);
  if (!fields) return std::nullopt;
  if (fields->channel != expected.channel) {
    why = "wrong channel " + fields->channel + " (expected " + std::string(expected.channel) + ")";
  } else if (platform::FromUtf8(fields->version) != expected.markerVersion) {
    why = "version mismatch: signed " + fields->version + ", marker " +
          platform::ToUtf8(expected.markerVersion);
  } else if (expected.now > fields->expires + kClockSkewSeconds) {
    why = "expired";
  } else if (fields->expires > expected.now + kLongestExpirySeconds + kClockSkewSeconds) {
    why = "expires too far ahead";
  } else {
    platform::Sha256 hash;
    hash.Update(block->signedBytes.data(), block->signedBytes.size());
    fields->signedBytesSha256 = hash.Finish();
    return fields;
  }
  return std::nullopt;
}
