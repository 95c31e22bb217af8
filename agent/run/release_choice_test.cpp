#include "agent/run/release_choice.h"

#include <gtest/gtest.h>

namespace {

// An id whose bucket for kSalt is known: the first of the counted ids in or out of a share.
const std::string kSalt = "00112233445566778899aabbccddeeff";

InstallId IdWithBucket(bool below, std::uint32_t share) {
  InstallId id{};
  for (std::uint32_t n = 0;; ++n) {
    id[0] = static_cast<std::uint8_t>(n);
    id[1] = static_cast<std::uint8_t>(n >> 8);
    if ((RolloutBucket(kSalt, id) < share) == below) return id;
  }
}

SignedFields Page(std::uint32_t share, const std::string& previous) {
  SignedFields page;
  page.version = "1205";
  page.packages = {{L"zh", 1, {}}};
  page.solidPackages = {{L"zh", 3, {}}};
  page.rollout.share = share;
  page.rollout.salt = kSalt;
  page.rollout.previousVersion = previous;
  if (!previous.empty()) page.rollout.previousPackages = {{L"zh", 2, {}}};
  return page;
}

TEST(ReleaseChoice, StagedHaltedAndTheReleaseBefore) {
  const struct {
    const char* what;
    std::uint32_t share;
    std::string previous;
    std::int32_t installed;
    bool person, inTheStage;
    std::string takes;  // "" for nothing
  } cases[] = {
      {"every installation", kWholeFleet, "", 1204, false, false, "1205"},
      {"in the stage", 500, "1204", 1203, false, true, "1205"},
      {"outside: the release before", 500, "1204", 1203, false, false, "1204"},
      {"outside, already on the release before", 500, "1204", 1204, false, false, ""},
      {"outside, no release before", 500, "", 1203, false, false, ""},
      {"a person is not staged", 500, "1204", 1203, true, false, "1205"},
      {"halted", 0, "1204", 1203, false, true, "1204"},
      {"halted for a person too", 0, "1204", 1203, true, true, "1204"},
      {"halted, nothing before", 0, "", 1203, true, true, ""},
      {"already on the release", 500, "1204", 1205, false, false, "1205"},
  };
  for (const auto& c : cases) {
    const InstallId id =
        c.share == 0 || c.share == kWholeFleet ? InstallId{} : IdWithBucket(c.inTheStage, c.share);
    bool asked = false;
    const ReleaseChoice choice =
        ChooseRelease(Page(c.share, c.previous), c.installed, c.person, [&] {
          asked = true;
          return std::optional<InstallId>(id);
        });
    EXPECT_EQ(choice.release ? choice.release->version : "", c.takes) << c.what;
    EXPECT_EQ(choice.halted, c.share == 0) << c.what;
    if (c.takes == "1204") {
      EXPECT_EQ(choice.release->packages[0].size, 2u) << c.what << ": its own package lines";
      EXPECT_TRUE(choice.release->solidPackages.empty()) << c.what << ": not the release's";
      EXPECT_EQ(choice.release->rollout.share, kWholeFleet) << c.what;
    }
    const bool staged = c.share > 0 && c.share < kWholeFleet && !c.person && c.installed < 1205;
    EXPECT_EQ(asked, staged) << c.what << ": the id is needed only to draw a stage";
  }
  // Without an id an installation is outside every stage.
  const ReleaseChoice noId =
      ChooseRelease(Page(9999, "1204"), 1203, false, [] { return std::optional<InstallId>(); });
  EXPECT_EQ(noId.release->version, "1204");
}

}  // namespace
