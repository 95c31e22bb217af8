#include "agent/run/daily_check.h"

#include "platform/state_record.h"

namespace {

constexpr char kKind[] = "kivo9-check-day";
constexpr int kFormat = 2;
constexpr int kUnsummedFormat = 1;  // written before the record carried its sum
constexpr std::size_t kLongestText = 256;

}  // namespace

bool FirstCheckToday(const std::wstring& path, std::int64_t now) {
  const std::string today = std::to_string(now >= 0 ? now / 86400 : 0);
  const auto text = platform::ReadStateFile(path, kLongestText);
  const auto lines =
      text ? platform::ParseStateRecord(*text, kKind, {kFormat}, {kUnsummedFormat}) : std::nullopt;
  if (lines && lines->size() == 1 && lines->front() == today) return false;
  platform::WriteStateRecord(path, kKind, kFormat, {today});
  return true;
}
