#include "agent/run/release_choice.h"

#include "agent/run/version_value.h"
#include "platform/text.h"

namespace {

bool InTheStage(const SignedRollout& rollout, bool person,
                const std::function<std::optional<InstallId>()>& installId) {
  if (rollout.share == 0) return false;
  if (person || rollout.share >= kWholeFleet) return true;
  const std::optional<InstallId> id = installId();
  return id && RolloutBucket(rollout.salt, *id) < rollout.share;
}

}  // namespace

ReleaseChoice ChooseRelease(const SignedFields& page, std::int32_t installedValue, bool person,
                            const std::function<std::optional<InstallId>()>& installId) {
  ReleaseChoice choice;
  // An installation already on the release (or beyond) has nothing to take, and needs no id.
  if (VersionValue(platform::FromUtf8(page.version)) <= installedValue ||
      InTheStage(page.rollout, person, installId)) {
    choice.release = page;
    return choice;
  }
  choice.halted = page.rollout.share == 0;
  const std::string& previous = page.rollout.previousVersion;
  if (!previous.empty() && VersionValue(platform::FromUtf8(previous)) > installedValue) {
    SignedFields before = page;
    before.version = previous;
    before.packages = page.rollout.previousPackages;
    // The solid and delta lines are the release's own: the release before is named by its zip
    // lines.
    before.solidPackages.clear();
    before.deltas.clear();
    before.rollout = SignedRollout{};
    choice.release = std::move(before);
  }
  return choice;
}
