#include "agent/run/daily_check.h"

#include "platform/files.h"

namespace {

constexpr char kHeader[] = "kivo9-check-day 1\n";
constexpr std::size_t kLongestText = 64;  // the header and a day number

std::string DayText(std::int64_t now) {
  const std::int64_t day = now >= 0 ? now / 86400 : 0;
  return kHeader + std::to_string(day) + "\n";
}

}  // namespace

bool FirstCheckToday(const std::wstring& path, std::int64_t now) {
  std::string kept;
  const std::string today = DayText(now);
  if (platform::ReadWholeFile(path, kLongestText, kept) && kept == today) return false;
  platform::ReplaceFileDurably(path, today);
  return true;
}
