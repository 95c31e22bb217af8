#include "agent/package/kept_package.h"

#include <algorithm>
#include <vector>

#include "agent/http/response_head.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace {

constexpr char kHeader[] = "kivo9-kept-package 1";
constexpr std::size_t kRecordLimitBytes = 4096;

// Lines of text without their line feeds; the last line must end in one too.
std::optional<std::vector<std::string>> LinesOf(const std::string& text) {
  if (text.empty() || text.back() != '\n') return std::nullopt;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
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
  std::string text;
  if (!platform::ReadWholeFile(recordPath_, kRecordLimitBytes, text)) return std::nullopt;
  const auto lines = LinesOf(text);
  if (!lines || lines->size() != 5 || (*lines)[0] != kHeader ||
      (*lines)[1] != platform::ToUtf8(url) ||
      platform::ParseDecimal((*lines)[2]) != expected.size ||
      platform::ParseHexDigest((*lines)[3]) != expected.sha256 || !IsStrongEntityTag((*lines)[4])) {
    return std::nullopt;
  }
  return ResumeFrom{count, (*lines)[4], expected.size};
}

bool KeptPackage::Remember(const std::wstring& url, const ExpectedFile& expected,
                           const std::string& entityTag) {
  if (entityTag.empty()) return platform::RemoveFile(recordPath_).ok();
  const std::string record = std::string(kHeader) + "\n" + platform::ToUtf8(url) + "\n" +
                             std::to_string(expected.size) + "\n" +
                             platform::HexDigest(expected.sha256) + "\n" + entityTag + "\n";
  return platform::ReplaceFileDurably(recordPath_, record);
}

void KeptPackage::KeepOnlyFor(const std::vector<std::wstring>& urls) {
  std::string text;
  const bool recorded = platform::ReadWholeFile(recordPath_, kRecordLimitBytes, text);
  const auto lines = recorded ? LinesOf(text) : std::nullopt;
  const bool needed =
      lines && lines->size() == 5 && (*lines)[0] == kHeader &&
      std::find(urls.begin(), urls.end(), platform::FromUtf8((*lines)[1])) != urls.end();
  if (!needed && (recorded || platform::PathQuery(bytesPath_))) Forget();
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
