#include "agent/identity/install_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/test_support.h"
#include "platform/text.h"

namespace {

TEST(InstallId, IsMadeOnceKeptAndRemadeWhenDamaged) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"install.id";
  const auto first = KeptInstallId(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(KeptInstallId(path), first) << "kept across runs";
  EXPECT_EQ(ParseInstallId(platform::ReadWholeFile(path)), first);
  const std::string text = FormatInstallId(*first);
  for (const std::string& damaged :
       {text.substr(0, text.size() - 1), text + "0", "kivo9-install-id 3" + text.substr(18),
        text.substr(0, 20) + "G" + text.substr(21), std::string()}) {
    EXPECT_FALSE(ParseInstallId(damaged)) << damaged;
  }
  ASSERT_TRUE(platform::WriteWholeFile(path, text.substr(0, 30)));
  const auto remade = KeptInstallId(path);
  ASSERT_TRUE(remade);
  EXPECT_NE(remade, first);
  EXPECT_EQ(ParseInstallId(platform::ReadWholeFile(path)), remade);
  EXPECT_FALSE(KeptInstallId(dir.path() + platform::NativePath(L"no-such-folder\\install.id")))
      << "an id that cannot be kept is none";
}

// The shares a staged release reaches, over ids as KeptInstallId makes them.
TEST(InstallId, BucketsGiveTheSignedShareAndGrowingItDropsNoOne) {
  constexpr int kIds = 100000;
  std::vector<InstallId> ids(kIds);
  ASSERT_TRUE(platform::RandomBytes(ids.data(), ids.size() * sizeof(InstallId)));
  const std::string salt = "5f1e0c2a9b7d4e3f";
  std::vector<std::uint32_t> buckets;
  for (const InstallId& id : ids) buckets.push_back(RolloutBucket(salt, id));
  for (const std::uint32_t share : {100u, 1000u, 5000u}) {
    int in = 0;
    for (const std::uint32_t bucket : buckets) in += bucket < share ? 1 : 0;
    EXPECT_NEAR(100.0 * in / kIds, share / 100.0, 0.5) << share << " basis points";
  }
  std::set<int> atTen, atFifty;
  for (int i = 0; i < kIds; ++i) {
    if (RolloutBucket(salt, ids[i]) < 1000) atTen.insert(i);
    if (RolloutBucket(salt, ids[i]) < 5000) atFifty.insert(i);
  }
  for (const int i : atTen) ASSERT_TRUE(atFifty.count(i)) << "dropped from the stage: " << i;
  // Another release's salt draws another cohort: about a tenth of the first stays in.
  int again = 0;
  for (const int i : atTen) again += RolloutBucket("a1b2c3d4e5f60718", ids[i]) < 1000 ? 1 : 0;
  EXPECT_NEAR(100.0 * again / atTen.size(), 10.0, 2.0);
}

}  // namespace
