#include "agent/identity/install_id.h"

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/state_record.h"

namespace {

// Format 1, before the record carried its sum, is read too: it holds the bucket.
constexpr platform::StateFormat kInstallId{"kivo9-install-id", 2, 1, 256};

}  // namespace

std::string FormatInstallId(const InstallId& id) {
  return platform::FormatStateRecord(kInstallId, {platform::LowerHex(id.data(), id.size())});
}

std::optional<InstallId> ParseInstallId(std::string_view text) {
  const auto lines = platform::ParseStateRecord(text, kInstallId);
  InstallId id{};
  if (!lines || lines->size() != 1 ||
      !platform::ParseLowerHex(lines->front(), id.data(), id.size())) {
    return std::nullopt;
  }
  return id;
}

std::optional<InstallId> KeptInstallId(const std::wstring& path) {
  std::string text;
  if (platform::ReadWholeFile(path, kInstallId.limitBytes, text)) {
    if (auto kept = ParseInstallId(text)) return kept;
  }
  InstallId id{};
  if (!platform::RandomBytes(id.data(), id.size())) return std::nullopt;
  if (!platform::ReplaceFileDurably(path, FormatInstallId(id))) return std::nullopt;
  return id;
}

std::uint32_t RolloutBucket(std::string_view salt, const InstallId& id) {
  platform::Sha256 hash;
  hash.Update(salt.data(), salt.size());
  hash.Update(id.data(), id.size());
  const platform::Sha256Digest digest = hash.Finish();
  std::uint64_t first = 0;
  for (int i = 0; i < 8; ++i) first = first << 8 | digest[i];
  return static_cast<std::uint32_t>(first % 10000);
}
