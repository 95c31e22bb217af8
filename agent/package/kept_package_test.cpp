// A signed package's download going on over runs, against the scripted loopback server of the
// ctest entry version_and_package (run alone, the server tests skip).
#include "agent/package/kept_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/package/package_fetch.h"
#include "build_config.h"
#include "platform/files.h"
#include "platform/test_support.h"
#include "platform_native.h"
#include "tests/server/loopback_server.h"

namespace {

TEST(KeptPackage, DeadlineGrowsWithTheSizeUpToAnHour) {
  EXPECT_EQ(PackageDeadline(0).count(), 60);
  EXPECT_EQ(PackageDeadline(32 * 1024 * 100 + 5).count(), 160);
  EXPECT_EQ(PackageDeadline(256ull << 20).count(), 3600);
  EXPECT_EQ(PackageDeadline(UINT64_MAX).count(), 3600);
}

// What is kept stays only while a run may still ask for it: bytes of another file, or
// without a record that says whose they are, go.
TEST(KeptPackage, OnlyBytesOfAFileStillWantedStay) {
  const platform::ScopedTempDir dir;
  KeptPackage kept(dir.path() + L"package.part", dir.path() + L"package.part.info");
  const std::wstring url = L"http://d.example/d/7/uen.jpg";
  const std::wstring newer = L"http://d.example/d/8/uen.jpg";
  struct Case {
    const char* what;
    bool recorded;
    std::vector<std::wstring> wanted;
    bool stays;
  };
  for (const Case& c : {Case{"still wanted", true, {newer, url}, true},
                        Case{"an earlier release's", true, {newer}, false},
                        Case{"no release wanted", true, {}, false},
                        Case{"bytes without a record", false, {url}, false}}) {
    ASSERT_TRUE(platform::WriteWholeFile(kept.BytesPath(), std::string(40, 'x')));
    if (c.recorded) {
      ASSERT_TRUE(kept.Remember(url, {100, {1}}, "\"5f-a1\""));
    }
    kept.KeepOnlyFor(c.wanted);
    EXPECT_EQ(platform::PathQuery(kept.BytesPath()), c.stays) << c.what;
    EXPECT_EQ(platform::PathQuery(dir.path() + L"package.part.info"), c.stays) << c.what;
    kept.Forget();
  }
  ASSERT_TRUE(platform::MakeDirectory(kept.BytesPath()));  // an empty folder in their place
  kept.Forget();
  EXPECT_FALSE(platform::PathQuery(kept.BytesPath()));
}

TEST(KeptPackage, OnlyAnIntactRecordOfTheSameFileResumes) {
  const platform::ScopedTempDir dir;
  KeptPackage kept(dir.path() + L"package.part", dir.path() + L"package.part.info");
  const ExpectedFile file{100, {1, 2, 3}};
  const std::wstring url = L"http://d.example/d/7/uen.jpg";
  EXPECT_FALSE(kept.ResumeFor(url, file)) << "nothing kept";
  ASSERT_TRUE(platform::WriteWholeFile(kept.BytesPath(), std::string(40, 'x')));
  ASSERT_TRUE(kept.Remember(url, file, "\"5f-a1\""));
  const auto resume = kept.ResumeFor(url, file);
  ASSERT_TRUE(resume);
  EXPECT_EQ(resume->offset, 40u);
  EXPECT_EQ(resume->entityTag, "\"5f-a1\"");
  EXPECT_EQ(resume->complete, 100u);
  EXPECT_FALSE(kept.ResumeFor(L"http://d.example/d/8/uen.jpg", file)) << "another release";
  EXPECT_FALSE(kept.ResumeFor(url, {101, file.sha256})) << "re-signed with another size";
  EXPECT_FALSE(kept.ResumeFor(url, {100, {9}})) << "re-signed with another hash";
  EXPECT_FALSE(kept.ResumeFor(url, {40, file.sha256})) << "all of it kept";

  const std::string record = platform::ReadWholeFile(dir.path() + L"package.part.info");
  ASSERT_FALSE(record.empty());
  const std::string tagLine = "\"5f-a1\"\n";
  const std::string head = record.substr(0, record.size() - tagLine.size());
  for (const std::string& damaged :
       {record.substr(0, record.size() - 1), head + "\"5f\r\n-a1\"\n", head + "W/\"5f-a1\"\n",
        head + tagLine + "more\n", "kivo9-kept-package 3" + record.substr(20), std::string()}) {
    ASSERT_TRUE(platform::WriteWholeFile(dir.path() + L"package.part.info", damaged));
    EXPECT_FALSE(kept.ResumeFor(url, file)) << damaged;
  }
  ASSERT_TRUE(kept.Remember(url, file, ""));
  EXPECT_FALSE(platform::PathQuery(dir.path() + L"package.part.info")) << "no tag, no record";
  kept.Forget();
  EXPECT_FALSE(platform::PathQuery(kept.BytesPath()));
}

constexpr std::size_t kBlock = 256 * 1024;
constexpr std::size_t kSize = 2 * kBlock + 1000;
const std::string kStatsPath = "/tg/kivopatch/en/?hardid=&times=0&v=7";
const std::string kFilePath = "/d/7/uen.jpg";

// The body the server generates for body_size with body_fill.
std::string Generated(const std::string& fill, std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = fill[i % fill.size()];
  return body;
}

ExpectedFile Signed(const std::string& body) {
  platform::Sha256 hash;
  hash.Update(body.data(), body.size());
  return {body.size(), hash.Finish()};
}

// An answer for the file: its whole body, served as nginx serves it, with the tag given.
std::string File(const std::string& more = "", const char* tag = "a",
                 const std::string& fill = "0123456789") {
  return R"({"headers": [["ETag", "\")" + std::string(tag) + R"(\""]], "body_size": )" +
         std::to_string(kSize) + R"(, "body_fill": ")" + fill + R"(", "ranges": true)" + more + "}";
}
std::string CutAt(std::size_t bytes) {
  return File(R"(, "truncate_to": )" + std::to_string(bytes));
}
const char kWrongRangeWhy[] =
    "the server sent other bytes than the rest asked for; asked again from the start";
// A 206 whose range starts a byte early.
const std::string kWrongRange =
    R"({"status": 206, "headers": [["ETag", "\"a\""], ["Content-Range", "bytes 999-525287/525288"]],
        "body_size": 524289})";

struct PackageRun {
  std::string file;              // the file URL's answers
  bool stored;                   // whether the run ends with the signed package
  std::vector<std::string> ask;  // the Range of each request for the file URL ("": none)
  std::string stats = R"({"status": 404})";
  std::string fill = "0123456789";  // what the release signed: the body of this fill
  std::string why = "";             // what the run's first refusal says, when it has one
};

class KeptPackageTest : public LoopbackServerTest {
 protected:
  // One run of the package step for release 7; true when it stored the signed package.
  bool RunOnce(const PackageRun& run, std::vector<std::string>& asked) {
    server_.Serve("\"" + platform::ToUtf8(buildconfig::kStatsHost) + kStatsPath + "\": [" +
                  run.stats + "], \"" + platform::ToUtf8(buildconfig::kDownloadHost) + kFilePath +
                  "\": [" + run.file + "]");
    const ExpectedFile expected = Signed(Generated(run.fill, kSize));
    KeptPackage kept(dir_.path() + L"package.part", dir_.path() + L"package.part.info");
    refusals_.clear();
    const RefusalReport report = [this](const std::wstring&, const std::string& why) {
      refusals_.push_back(why);
    };
    const PlannedPackage package{
        L"en",
        {StatisticsRequestUrl({L"en", L"", 0, L"7", L""}), DownloadServerUrl(L"en", L"7")},
        expected,
        {},
        PackageForm::kZip,
        std::nullopt};
    const bool stored = FetchPackage(package, {Target(), &kept, nullptr, report}).ok();
    asked.clear();
    for (const auto& request : server_.Requests()) {
      if (request.line.find(kFilePath) == std::string::npos) continue;
      asked.emplace_back();
      for (const std::string& header : request.headers) {
        if (header.rfind("Range: ", 0) == 0) asked.back() = header.substr(7);
      }
    }
    return stored;
  }
  std::wstring Target() const { return dir_.path() + L"~GF1A.tmp.rar"; }
  std::wstring Kept() const { return dir_.path() + L"package.part"; }

  std::vector<std::string> refusals_;
};

TEST_F(KeptPackageTest, ACutDownloadGoesOnOnlyWithTheBytesItCanProve) {
  const auto rest = [](std::size_t from) { return "bytes=" + std::to_string(from) + "-"; };
  struct Case {
    const char* what;
    std::vector<PackageRun> runs;
    bool poison = false;  // a byte of the kept bytes changes after the first run
  };
  std::vector<Case> cases;
  for (const std::size_t cut : {std::size_t{1}, kBlock, kBlock + 1, kSize - 1}) {
    cases.push_back({"a cut", {{CutAt(cut), false, {""}}, {File(), true, {rest(cut)}}}});
  }
  const std::size_t cut = kBlock + 7;
  cases.push_back({"the rest from the other server", {{File(), true, {rest(cut)}, CutAt(cut)}}});
  cases.push_back({"a changed ETag: the whole file again",
                   {{CutAt(cut), false, {""}}, {File("", "b"), true, {rest(cut)}}}});
  cases.push_back(
      {"a server that ignores Range",
       {{CutAt(cut), false, {""}},
        {R"({"headers": [["ETag", "\"a\""]], "body_size": 525288})", true, {rest(cut)}}}});
  cases.push_back({"a 206 from a wrong offset: once from zero",
                   {{CutAt(1000), false, {""}},
                    {kWrongRange + ", " + File(),
                     true,
                     {rest(1000), ""},
                     R"({"status": 404})",
                     "0123456789",
                     kWrongRangeWhy}}});
  cases.push_back({"a poisoned kept prefix: once from zero",
                   {{CutAt(cut), false, {""}},
                    {File() + ", " + File(),
                     true,
                     {rest(cut), ""},
                     R"({"status": 404})",
                     "0123456789",
                     "SHA-256 differs from the signed one; asked again from the start"}},
                   true});
  cases.push_back(
      {"re-signed with other bytes: not resumed",
       {{CutAt(cut), false, {""}},
        {File("", "b", "abcdefghij"), true, {""}, R"({"status": 404})", "abcdefghij"}}});
  cases.push_back({"a failed restart keeps its own start, never the proved-wrong one",
                   {{CutAt(1000), false, {""}},
                    {kWrongRange + ", " + CutAt(500), false, {rest(1000), ""}},
                    {File(), true, {rest(500)}}}});
  cases.push_back({"other bytes under the signed size: refused, nothing kept",
                   {{File("", "a", "abcdefghij"), false, {""}}, {File(), true, {""}}}});

  const std::string body = Generated("0123456789", kSize);
  for (const Case& c : cases) {
    KeptPackage(Kept(), Kept() + L".info").Forget();
    platform::RemoveFile(Target());
    for (std::size_t i = 0; i < c.runs.size(); ++i) {
      std::vector<std::string> asked;
      const PackageRun& run = c.runs[i];
      EXPECT_EQ(RunOnce(run, asked), run.stored) << c.what << ", run " << i + 1;
      EXPECT_EQ(asked, run.ask) << c.what << ", run " << i + 1;
      if (!run.why.empty()) {
        EXPECT_EQ(refusals_.empty() ? "" : refusals_.front(), run.why) << c.what;
      }
      if (run.stored) {
        EXPECT_EQ(platform::ReadWholeFile(Target()), Generated(run.fill, kSize)) << c.what;
        EXPECT_FALSE(platform::PathQuery(Kept())) << c.what << ": moved away once whole";
        EXPECT_FALSE(platform::PathQuery(Kept() + L".info")) << c.what;
      }
      if (i == 0 && c.poison) {
        std::string kept = platform::ReadWholeFile(Kept());
        ASSERT_EQ(kept, body.substr(0, cut)) << c.what;
        kept[cut / 2] ^= 1;
        ASSERT_TRUE(platform::WriteWholeFile(Kept(), kept));
      }
    }
  }
}

// Where nothing can be kept (a folder with content stands in the kept bytes' place), the same
// URL is asked once more with the body going straight into the package, checked as ever; the
// folder and what it holds stay, and nothing is told as refused.
TEST_F(KeptPackageTest, APlaceThatCannotKeepBytesTakesThePackageStraight) {
  const std::wstring mine = Kept() + platform::kSep + L"mine.txt";
  ASSERT_TRUE(platform::MakeDirectory(Kept()));
  ASSERT_TRUE(platform::WriteWholeFile(mine, "mine"));
  std::vector<std::string> asked;
  EXPECT_TRUE(RunOnce({File() + ", " + File(), true, {}}, asked));
  EXPECT_EQ(asked, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(platform::ReadWholeFile(Target()), Generated("0123456789", kSize));
  EXPECT_EQ(platform::ReadWholeFile(mine), "mine");
  EXPECT_FALSE(platform::PathQuery(Kept() + L".info"));
  EXPECT_TRUE(refusals_.empty()) << refusals_.front();
}

}  // namespace
