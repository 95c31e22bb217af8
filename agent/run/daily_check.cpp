#include "agent/run/daily_check.h"

#include "platform/state_record.h"

namespace {

// Format 1, before the record carried its sum, is read too.
constexpr platform::StateFormat kCheckDay{"kivo9-check-day", 2, 1, 256};

}  // namespace

bool FirstCheckToday(const std::wstring& path, std::int64_t now) {
  const std::string today = std::to_string(now >= 0 ? now / 86400 : 0);
  const auto lines = platform::ReadStateRecord(path, kCheckDay);
  if (lines && lines->size() == 1 && lines->front() == today) return false;
  platform::WriteStateRecord(path, kCheckDay, {today});
  return true;
}
