#include "agent/trust/release_record.h"

#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/state_record.h"

namespace {

// Two channels need a few hundred bytes.
constexpr platform::StateFormat kSeen{"kivo9-seen", 1, 0, 4096};

bool IsChannelName(const std::string& name) {
  if (name.empty() || name.size() > 16) return false;
  for (const char c : name) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

}  // namespace

std::string FormatReleaseRecord(const ReleaseRecord& record) {
  std::vector<std::string> lines;
  for (const auto& [channel, page] : record) {
    lines.push_back(channel + " " + std::to_string(page.seq) + " " +
                    platform::HexDigest(page.signedBytes));
  }
  return platform::FormatStateRecord(kSeen, lines);
}

ReleaseRecord ParseReleaseRecord(const std::string& text) {
  const auto lines =
      text.size() <= kSeen.limitBytes ? platform::ParseStateRecord(text, kSeen) : std::nullopt;
  if (!lines) return {};
  ReleaseRecord record;
  for (const std::string_view fields : *lines) {
    const std::string line(fields);
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
  if (!platform::ReadWholeFile(path, kSeen.limitBytes, text)) return {};
  return ParseReleaseRecord(text);
}

bool WriteReleaseRecord(const std::wstring& path, const ReleaseRecord& record) {
  return platform::ReplaceFileDurably(path, FormatReleaseRecord(record));
}
