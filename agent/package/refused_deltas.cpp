#include "agent/package/refused_deltas.h"

#include <algorithm>
#include <vector>

#include "platform/state_record.h"

namespace {

constexpr platform::StateFormat kRefusedDeltas{"kivo9-refused-deltas", 1, 0, 4096};

std::vector<std::string> Refused(const std::wstring& recordPath) {
  auto lines = platform::ReadStateRecord(recordPath, kRefusedDeltas);
  return lines ? *lines : std::vector<std::string>{};
}

bool Named(const std::vector<std::string>& refused, const SignedDelta& delta) {
  return std::find(refused.begin(), refused.end(), platform::HexDigest(delta.package.sha256)) !=
         refused.end();
}

}  // namespace

void LeaveOutRefusedDeltas(const std::wstring& recordPath, SignedFields& release) {
  if (release.deltas.empty()) return;
  const std::vector<std::string> refused = Refused(recordPath);
  std::erase_if(release.deltas,
                [&refused](const SignedDelta& delta) { return Named(refused, delta); });
}

bool RecordRefusedDeltas(const std::wstring& recordPath, const SignedFields& release) {
  std::vector<std::string> refused = Refused(recordPath);
  for (const SignedDelta& delta : release.deltas) {
    if (!Named(refused, delta)) refused.push_back(platform::HexDigest(delta.package.sha256));
  }
  if (refused.size() > kMaxRefusedDeltas) {
    refused.erase(refused.begin(), refused.end() - kMaxRefusedDeltas);
  }
  return platform::WriteStateRecord(recordPath, kRefusedDeltas, refused);
}
