#include "agent/identity/install_id.h"

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace {

constexpr std::string_view kHeader = "kivo9-install-id 1\n";
constexpr std::size_t kIdDigits = 32;

}  // namespace

std::string FormatInstallId(const InstallId& id) {
  return std::string(kHeader) + platform::LowerHex(id.data(), id.size()) + "\n";
}

std::optional<InstallId> ParseInstallId(std::string_view text) {
  if (text.size() != kHeader.size() + kIdDigits + 1 || text.substr(0, kHeader.size()) != kHeader ||
      text.back() != '\n') {
    return std::nullopt;
  }
  InstallId id{};
  if (!platform::ParseLowerHex(text.substr(kHeader.size(), kIdDigits), id.data(), id.size()))
    return std::nullopt;
  return id;
}

std::optional<InstallId> KeptInstallId(const std::wstring& path) {
  std::string text;
  if (platform::ReadWholeFile(path, kHeader.size() + kIdDigits + 1, text)) {
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
