#include "agent/package/kept_package.h"

#include <algorithm>
#include <vector>

#include "agent/http/response_head.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/state_record.h"
#include "platform/text.h"

namespace {

// Format 1, before the record carried its sum, is read too.
constexpr platform::StateFormat kKeptRecord{"kivo9-kept-package", 2, 1, 4096};

// The record's lines: URL, size, SHA-256, tag; nullopt when there is no whole record.
std::optional<std::vector<std::string>> RecordLines(const std::wstring& path) {
  auto lines = platform::ReadStateRecord(path, kKeptRecord);
  if (!lines || lines->size() != 4) return std::nullopt;
  return lines;
}

}  // namespace

std::optional<ResumeFrom> KeptPackage::ResumeFor(const std::wstring& url,
                                                 const ExpectedFile& expected) const {
  platform::FileReader bytes;
  std::uint64_t count = 0;
  if (!bytes.Open(bytesPath_) || !bytes.Size(count) || count == 0 || count >= expected.size) {
    return std::nullopt;
  }
  const auto lines = RecordLines(recordPath_);
  if (!lines || (*lines)[0] != platform::ToUtf8(url) ||
      platform::ParseDecimal((*lines)[1]) != expected.size ||
      platform::ParseHexDigest((*lines)[2]) != expected.sha256 || !IsStrongEntityTag((*lines)[3])) {
    return std::nullopt;
  }
  return ResumeFrom{count, (*lines)[3], expected.size};
}

bool KeptPackage::Remember(const std::wstring& url, const ExpectedFile& expected,
                           const std::string& entityTag) {
  if (entityTag.empty()) return platform::RemoveFile(recordPath_).ok();
  return platform::WriteStateRecord(recordPath_, kKeptRecord,
                                    {platform::ToUtf8(url), std::to_string(expected.size),
                                     platform::HexDigest(expected.sha256), entityTag});
}

void KeptPackage::KeepOnlyFor(const std::vector<std::wstring>& urls) {
  const auto lines = RecordLines(recordPath_);
  const bool needed =
      lines && std::find(urls.begin(), urls.end(), platform::FromUtf8((*lines)[0])) != urls.end();
  if (!needed && (platform::PathQuery(recordPath_) || platform::PathQuery(bytesPath_))) Forget();
}

void KeptPackage::Forget() {
  platform::RemoveFile(recordPath_);
  platform::RemoveFile(bytesPath_);
  // An empty folder in the bytes' place would make every run fetch without keeping anything.
  if (platform::QueryPath(bytesPath_).kind == platform::PathKind::Directory) {
    platform::RemoveEmptyDirectory(bytesPath_);
  }
}

std::chrono::seconds PackageDeadline(std::uint64_t size) {
  constexpr std::uint64_t kMinimumBytesPerSecond = 32 * 1024;
  constexpr std::uint64_t kMostSeconds = 3600;
  const std::uint64_t seconds = 60 + size / kMinimumBytesPerSecond;
  return std::chrono::seconds(std::min(seconds, kMostSeconds));
}
