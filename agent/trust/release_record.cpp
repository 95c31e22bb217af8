#include "agent/trust/release_record.h"

#include <sstream>

#include "platform/files.h"
#include "platform/numbers.h"

namespace {

constexpr char kHeader[] = "kivo9-seen 1\n";
constexpr std::size_t kLongestRecord = 4096;  // two channels need a few hundred bytes

std::string DigestOf(const std::string& bytes) {
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return platform::HexDigest(hash.Finish());
}

bool IsChannelName(const std::string& name) {
  if (name.empty() || name.size() > 16) return false;
  for (const char c : name) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

}  // namespace

std::string FormatReleaseRecord(const ReleaseRecord& record) {
  std::string text = kHeader;
  for (const auto& [channel, page] : record) {
    text += channel + " " + std::to_string(page.seq) + " " + platform::HexDigest(page.signedBytes) +
            "\n";
  }
  return text + "sum " + DigestOf(text) + "\n";
}

ReleaseRecord ParseReleaseRecord(const std::string& text) {
  const std::size_t sum = text.rfind("sum ");
  if (text.size() > kLongestRecord || text.rfind(kHeader, 0) != 0 || sum == std::string::npos ||
      (sum > 0 && text[sum - 1] != '\n') ||
      text.substr(sum) != "sum " + DigestOf(text.substr(0, sum)) + "\n") {
    return {};
  }
  ReleaseRecord record;
  std::istringstream lines(text.substr(sizeof(kHeader) - 1, sum - (sizeof(kHeader) - 1)));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos) return {};
    const std::string channel = line.substr(0, first);
    const auto seq =
        platform::ParseDecimal(std::string_view(line).substr(first + 1, second - first - 1));
    const auto digest = platform::ParseHexDigest(std::string_view(line).substr(second + 1));
    if (!IsChannelName(channel) || !seq || !digest || record.count(channel) != 0) return {};
    record[channel] = SeenPage{*seq, *digest};
  }
  return record;
}

Outcome ReplayProblem(const ReleaseRecord& record, const std::string& channel, const SeenPage& page,
                      std::uint64_t floor) {
  const auto seen = record.find(channel);
  if (seen == record.end()) {
    if (page.seq >= floor) return {};
    return Outcome::No("older than this build (seq " + std::to_string(page.seq) + " below " +
                       std::to_string(floor) + ")");
  }
  if (page.seq < seen->second.seq) {
    return Outcome::No("older than a page already believed (seq " + std::to_string(page.seq) +
                       " below " + std::to_string(seen->second.seq) + ")");
  }
  if (page.seq == seen->second.seq && page.signedBytes != seen->second.signedBytes) {
    return Outcome::No("seq " + std::to_string(page.seq) +
                       " was believed before with other contents");
  }
  return {};
}

ReleaseRecord ReadReleaseRecord(const std::wstring& path) {
  std::string text;
  if (!platform::ReadWholeFile(path, kLongestRecord, text)) return {};
  return ParseReleaseRecord(text);
}

bool WriteReleaseRecord(const std::wstring& path, const ReleaseRecord& record) {
  return platform::ReplaceFileDurably(path, FormatReleaseRecord(record));
}
