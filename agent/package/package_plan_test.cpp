#include "agent/package/package_plan.h"

#include <gtest/gtest.h>

#include "build_config.h"

namespace {

const std::wstring kStats = std::wstring(L"http://") + buildconfig::kStatsHost;
const std::wstring kFiles = std::wstring(L"http://") + buildconfig::kDownloadHost;

SignedFields Release(const std::string& version) {
  SignedFields release;
  release.version = version;
  release.packages = {{L"zh", 9, {1}}, {L"", 4, {2}}};
  return release;
}

TEST(PackagePlanTest, TheReleaseDecidesWhatIsAskedForAndWhatCounts) {
  const PackageRequest asker{L"ignored", L"001A2B3C4D5E", 5, L"", L"1203"};
  const PackageNames names{L"zhcn", L"zh", L""};

  const auto unsigned_ = PlanPackages(asker, names, nullptr);
  ASSERT_TRUE(unsigned_);
  EXPECT_FALSE(unsigned_->Signed());
  ASSERT_EQ(unsigned_->packages.size(), 3u);
  for (const PlannedPackage& package : unsigned_->packages) {
    EXPECT_FALSE(package.expected) << "any body counts";
    EXPECT_TRUE(package.offered);
  }
  EXPECT_EQ(unsigned_->packages[0].urls[0],
            kStats + L"/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5");
  EXPECT_EQ(unsigned_->packages[2].FileUrl(), kFiles + L"/d/u.jpg");

  const SignedFields release = Release("1204");
  const auto signed_ = PlanPackages(asker, names, &release);
  ASSERT_TRUE(signed_);
  EXPECT_EQ(signed_->releaseNumber, L"1204");
  ASSERT_EQ(signed_->packages.size(), 3u);
  EXPECT_FALSE(signed_->packages[0].offered) << "zhcn is not in the release";
  EXPECT_EQ(signed_->packages[0].offered.why(), "the signed release has none");
  EXPECT_EQ(signed_->packages[1].urls[0],
            kStats + L"/tg/kivopatch/zh/?hardid=001A2B3C4D5E&times=5&v=1204&from=1203");
  EXPECT_EQ(signed_->packages[1].FileUrl(), kFiles + L"/d/1204/uzh.jpg");
  ASSERT_TRUE(signed_->packages[1].expected);
  EXPECT_EQ(signed_->packages[1].expected->size, 9u);
  EXPECT_EQ(signed_->packages[2].expected->size, 4u);
  EXPECT_EQ(FileUrlsOf(*signed_),
            (std::vector<std::wstring>{kFiles + L"/d/1204/uzhcn.jpg", kFiles + L"/d/1204/uzh.jpg",
                                       kFiles + L"/d/1204/u.jpg"}));

  // A solid package of a name is tried first, then the zip package of the same tree; only
  // signed agents ask for one, and only by the release's number.
  SignedFields solid = Release("1204");
  solid.solidPackages = {{L"zh", 7, {3}}};
  const auto withSolid = PlanPackages(asker, names, &solid);
  ASSERT_TRUE(withSolid);
  ASSERT_EQ(withSolid->packages.size(), 4u);
  const PlannedPackage& first = withSolid->packages[1];
  EXPECT_EQ(first.form, PackageForm::kSolid);
  EXPECT_EQ(first.name, L"zh");
  EXPECT_EQ(first.urls[0],
            kStats + L"/tg/kivopatch/zh/?hardid=001A2B3C4D5E&times=5&v=1204&from=1203&form=solid");
  EXPECT_EQ(first.FileUrl(), kFiles + L"/d/1204/uzh.tzst");
  ASSERT_TRUE(first.expected);
  EXPECT_EQ(first.expected->size, 7u);
  EXPECT_EQ(withSolid->packages[2].form, PackageForm::kZip);
  EXPECT_EQ(withSolid->packages[2].FileUrl(), kFiles + L"/d/1204/uzh.jpg");
  EXPECT_EQ(withSolid->packages[2].expected->size, 9u);
  EXPECT_EQ(DownloadServerUrl(L"zh", L"", PackageForm::kSolid), kFiles + L"/d/uzh.jpg")
      << "never unnumbered";

  // A delta from the installed build comes before both, held to its own size and hash and
  // carrying the hash its tree's file list must have; deltas from other builds are not asked.
  solid.deltas = {{{L"zh", 3, {4}}, L"1203", {5}}, {{L"zh", 2, {6}}, L"1202", {7}}};
  const auto withDelta = PlanPackages(asker, names, &solid);
  ASSERT_TRUE(withDelta);
  ASSERT_EQ(withDelta->packages.size(), 5u);
  const PlannedPackage& delta = withDelta->packages[1];
  EXPECT_EQ(delta.form, PackageForm::kDelta);
  EXPECT_EQ(delta.urls[0],
            kStats + L"/tg/kivopatch/zh/?hardid=001A2B3C4D5E&times=5&v=1204&from=1203&form=delta");
  EXPECT_EQ(delta.FileUrl(), kFiles + L"/d/1204/uzh.1203.delta");
  EXPECT_EQ(delta.expected->size, 3u);
  ASSERT_TRUE(delta.resultList);
  EXPECT_EQ((*delta.resultList)[0], 5);
  EXPECT_EQ(withDelta->packages[2].form, PackageForm::kSolid);
  EXPECT_FALSE(withDelta->packages[2].resultList);

  for (const char* version : {"", "12a4", "12345678901", "../1204"}) {
    const SignedFields odd = Release(version);
    const auto refused = PlanPackages(asker, names, &odd);
    EXPECT_FALSE(refused) << version;
    EXPECT_EQ(refused.why(), "the signed version is no release number") << version;
  }
}

}  // namespace
