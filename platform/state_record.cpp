#include "platform/state_record.h"

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace platform {
namespace {

constexpr std::string_view kSumKey = "sum ";

std::string SumOf(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return HexDigest(hash.Finish());
}

}  // namespace

std::optional<std::vector<std::string_view>> SplitLines(std::string_view text) {
  if (text.empty() || text.back() != '\n') return std::nullopt;
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string FormatStateRecord(const StateFormat& form, const std::vector<std::string>& lines) {
  std::string text = std::string(form.kind) + " " + std::to_string(form.format) + "\n";
  for (const std::string& line : lines) text += line + "\n";
  return text + std::string(kSumKey) + SumOf(text) + "\n";
}

std::optional<std::vector<std::string_view>> ParseStateRecord(std::string_view text,
                                                              const StateFormat& form) {
  auto lines = SplitLines(text);
  if (!lines) return std::nullopt;
  const std::string_view head = lines->front();
  const std::size_t blank = head.find(' ');
  if (blank == std::string_view::npos || head.substr(0, blank) != form.kind) return std::nullopt;
  const auto format = ParseDecimal(head.substr(blank + 1), 1000);
  if (!format) return std::nullopt;
  lines->erase(lines->begin());
  if (form.unsummedFormat != 0 && *format == static_cast<std::uint64_t>(form.unsummedFormat)) {
    return lines;
  }
  if (*format != static_cast<std::uint64_t>(form.format) || lines->empty()) return std::nullopt;
  const std::string_view sum = lines->back();
  const std::size_t summed = text.size() - sum.size() - 1;
  if (sum.substr(0, kSumKey.size()) != kSumKey ||
      sum.substr(kSumKey.size()) != SumOf(text.substr(0, summed))) {
    return std::nullopt;
  }
  lines->pop_back();
  return lines;
}

std::optional<std::vector<std::string>> ReadStateRecord(const std::wstring& path,
                                                        const StateFormat& form) {
  std::string text;
  if (!ReadWholeFile(path, form.limitBytes, text)) return std::nullopt;
  const auto lines = ParseStateRecord(text, form);
  if (!lines) return std::nullopt;
  return std::vector<std::string>(lines->begin(), lines->end());
}

bool WriteStateRecord(const std::wstring& path, const StateFormat& form,
                      const std::vector<std::string>& lines) {
  return ReplaceFileDurably(path, FormatStateRecord(form, lines));
}

}  // namespace platform
