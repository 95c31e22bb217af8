#include "agent/trust/page_trust.h"

#include "platform/text.h"

OrWhy<SignedFields> TrustedPageFields(std::string_view page, const PageExpectation& expected,
                                      const ReleaseKeys& keys) {
  const auto block = FindSignedBlock(page);
  if (!block) return block.outcome();
  const platform::P256PublicPoint* key = keys.Slot(block->keySlot);
  if (key == nullptr) {
    return Outcome::No("signed with unknown key k" + std::to_string(block->keySlot));
  }
  if (!platform::VerifyP256Signature(*key, block->signedBytes, block->signature)) {
    return Outcome::No("bad signature");
  }
  auto fields = ParseSignedFields(block->signedBytes);
  if (!fields) return fields;
  if (fields->channel != expected.channel) {
    return Outcome::No("wrong channel " + fields->channel + " (expected " +
                       std::string(expected.channel) + ")");
  }
  if (platform::FromUtf8(fields->version) != expected.markerVersion) {
    return Outcome::No("version mismatch: signed " + fields->version + ", marker " +
                       platform::ToUtf8(expected.markerVersion));
  }
  if (expected.now > fields->expires + kClockSkewSeconds) return Outcome::No("expired");
  if (fields->expires > expected.now + kLongestExpirySeconds + kClockSkewSeconds) {
    return Outcome::No("expires too far ahead");
  }
  platform::Sha256 hash;
  hash.Update(block->signedBytes.data(), block->signedBytes.size());
  fields->signedBytesSha256 = hash.Finish();
  return fields;
}
