#include "delta_manifest.h"

#include <set>

#include "platform/numbers.h"

namespace unpack {
namespace {

// The next field of line up to a space; false when there is no space left.
bool TakeField(std::string_view& line, std::string_view& field) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  field = line.substr(0, space);
  line.remove_prefix(space + 1);
  return true;
}

bool TakeSizeAndHash(std::string_view& line, std::uint64_t max, std::uint64_t& size,
                     platform::Sha256Digest& sha256) {
  std::string_view sizeText, hashText;
  if (!TakeField(line, sizeText) || !TakeField(line, hashText)) return false;
  const auto number = platform::ParseDecimal(sizeText, max);
  const auto digest = platform::ParseHexDigest(hashText);
  if (!number || !digest) return false;
  size = *number;
  sha256 = *digest;
  return true;
}

OrWhy<DeltaLine> ParseLine(std::string_view line) {
  DeltaLine parsed;
  std::string_view kind, flag;
  if (!TakeField(line, kind) || !TakeField(line, flag) || (flag != "x" && flag != "-")) {
    return Outcome::No("a line of another shape");
  }
  parsed.executable = flag == "x";
  if (kind == "same") {
    parsed.kind = DeltaKind::kSame;
  } else if (kind == "patch") {
    parsed.kind = DeltaKind::kPatch;
  } else if (kind == "bsdiff") {
    parsed.kind = DeltaKind::kBsdiff;
  } else if (kind != "whole") {
    return Outcome::No("a line of unknown kind");
  }
  const bool patched = parsed.kind == DeltaKind::kPatch || parsed.kind == DeltaKind::kBsdiff;
  const std::uint64_t max = patched ? kMaxPatchedFile : UINT64_MAX;
  if (!TakeSizeAndHash(line, max, parsed.size, parsed.sha256) ||
      (patched && !TakeSizeAndHash(line, max, parsed.oldSize, parsed.oldSha256))) {
    return Outcome::No("a size or hash that is malformed or too large");
  }
  if (line.empty()) return Outcome::No("a line without a path");
  parsed.path = std::string(line);
  return parsed;
}

}  // namespace

OrWhy<std::vector<DeltaLine>> ParseDeltaList(std::string_view text) {
  constexpr std::string_view kHeader = "kivo-delta 1\n";
  if (text.substr(0, kHeader.size()) != kHeader) return Outcome::No("no delta list");
  text.remove_prefix(kHeader.size());
  std::vector<DeltaLine> lines;
  std::set<std::string_view> paths;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return Outcome::No("the delta list is cut short");
    const std::string_view lineText = text.substr(0, end);
    text.remove_prefix(end + 1);
    auto line = ParseLine(lineText);
    if (!line)
      return Outcome::No("delta list line " + std::to_string(lines.size() + 2) + ": " + line.why());
    if (!paths.insert(lineText.substr(lineText.size() - line->path.size())).second) {
      return Outcome::No("the delta list names " + line->path + " twice");
    }
    lines.push_back(std::move(*line));
  }
  return lines;
}

}  // namespace unpack
