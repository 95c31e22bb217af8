#include "agent/run/daily_check.h"

#include "platform/state_record.h"

namespace {

// Format 1, before the record carried its sum, is read too.
constexpr platform::StateFormat kCheckDay{"kivo9-check-day", 2, 1, 256};

std::string DayOf(std::int64_t now) { return std::to_string(now >= 0 ? now / 86400 : 0); }

}  // namespace

bool FirstCheckToday(const std::wstring& path, std::int64_t now) {
  const auto lines = platform::ReadStateRecord(path, kCheckDay);
  return !lines || lines->size() != 1 || lines->front() != DayOf(now);
}

void KeepCheckDay(const std::wstring& path, std::int64_t now) {
  platform::WriteStateRecord(path, kCheckDay, {DayOf(now)});
}
