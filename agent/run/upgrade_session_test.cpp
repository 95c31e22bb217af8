#include "agent/run/upgrade_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "agent/base/layout.h"
#include "agent/identity/hardware_id.h"
#include "agent/package/package_request.h"
#include "build_config.h"
#include "platform/command_line.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/server/loopback_server.h"

namespace {

TEST(ExtractorParameters, QuotesPackageAndUpdateDirectory) {
  EXPECT_EQ(ExtractorParameters(L"D:\\Temp\\~GF1A.tmp.rar", L"C:\\Kivo9\\Kivo9Data\\update\\"),
            L"x -o+ -y \"D:\\Temp\\~GF1A.tmp.rar\" \"C:\\Kivo9\\Kivo9Data\\update\\\"");
  EXPECT_EQ(ExtractorParameters(L"/tmp/~GF1A.tmp.rar", L"/opt/my kivo/update/"),
            L"x -o+ -y \"/tmp/~GF1A.tmp.rar\" \"/opt/my kivo/update/\"");
}

TEST(ExtractorParameters, APathWithAQuoteIsRefused) {
  EXPECT_EQ(ExtractorParameters(L"/tmp/a\" -o- \"b.rar", L"/opt/update/"), std::nullopt);
  EXPECT_EQ(ExtractorParameters(L"/tmp/~GF1.tmp.rar", L"/opt/\"/update/"), std::nullopt);
  EXPECT_EQ(ExtractorParameters(L"\"", L"\""), std::nullopt);
}

}  // namespace

namespace {

const std::wstring kSep(1, platform::kSep);

std::string Route(const wchar_t* host, const std::string& path, const std::string& body) {
  return "\"" + platform::ToUtf8(host) + path + "\": [{\"body\": \"" + body + "\"}]";
}

std::string StatsUrl(const std::string& name, const std::string& id, int times) {
  return LoopbackServer::Url(buildconfig::kStatsHost, "/tg/kivopatch/" + name + "/?hardid=" + id +
                                                          "&times=" + std::to_string(times));
}

std::string DownloadUrl(const std::string& name) {
  return LoopbackServer::Url(buildconfig::kDownloadHost, "/d/u" + name + ".jpg");
}

// Decodes one JSON string literal of a recorder record (escapes as the recorder writes them).
std::wstring DecodeRecordValue(const std::string& literal) {
  std::string text;
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    if (literal[i] != '\\') {
      text += literal[i];
      continue;
    }
    const char code = literal[++i];
    if (code == 'u') {
      text += static_cast<char>(std::stoi(literal.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      text += code == 'n' ? '\n' : code == 'r' ? '\r' : code == 't' ? '\t' : code;
    }
  }
  return platform::FromUtf8(text);
}

// The arguments of the first start that the recorder recorded, once its record is complete;
// nullopt when none arrived within the given number of tenths of a second.
std::optional<std::vector<std::wstring>> RecordedArguments(const std::wstring& recordPath,
                                                           int tenths) {
  for (int i = 0; i < tenths; ++i, platform::SleepMilliseconds(100)) {
    const std::string record = platform::ReadWholeFile(recordPath);
    const std::size_t end = record.find("\nend\n");
    if (end == std::string::npos) continue;
    std::vector<std::wstring> arguments;
    std::istringstream lines(record.substr(0, end));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("arg ", 0) == 0) arguments.push_back(DecodeRecordValue(line.substr(4)));
    }
    return arguments;
  }
  return std::nullopt;
}

// A test installation whose extractor is the recorder, against the loopback server.
class DownloadAndUnpackTest : public LoopbackServerTest {
 protected:
  void SetUp() override {
    LoopbackServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    agentDir_ = dir_.path() + L"Kivo9Data" + kSep;
    CreateDirectoryChain(agentDir_ + L"Resource" + kSep);
    const std::wstring ownPath = platform::OwnExecutablePath();
    const std::wstring recorder = ownPath.substr(0, ownPath.rfind(platform::kSep) + 1) +
                                  L"recorder" + platform::kProgramSuffix;
    ASSERT_TRUE(
        platform::CopyFileOverwrite(recorder, agentDir_ + L"Resource" + kSep + L"UnPack.exe"));
  }
  int DownloadAndUnpackFor(const PackageNames& names, const std::wstring& agentDir) {
    step_ = UpgradeSession(RunInputs{AgentLayout(agentDir), false, {}, 0, {}})
                .DownloadAndUnpackFor(names);
    return step_.Result();
  }

  std::wstring RecordPath() const { return agentDir_ + L"Resource" + kSep + L"UnPack.exe.record"; }

  std::wstring agentDir_;
  std::wstring package_;
  PackageStep step_;
};

TEST_F(DownloadAndUnpackTest, FirstNameThatYieldsAPackageEndsTheSearch) {
  const std::string id = platform::ToUtf8(GetHardwareId());
  server_.Serve(Route(buildconfig::kStatsHost, "/tg/kivopatch/zh/?hardid=" + id + "&times=0",
                      "package for zh"));
  EXPECT_EQ(DownloadAndUnpackFor({L"zhcn", L"zh", L""}, agentDir_), 1);
  EXPECT_EQ(server_.RequestedUrls(),
            (std::vector<std::string>{StatsUrl("zhcn", id, 0), DownloadUrl("zhcn"),
                                      StatsUrl("zh", id, 0)}));
  // The extractor writes into the staging directory; the hand-over renames it to update.
  EXPECT_TRUE(PathExists(agentDir_ + L"update.partial" + kSep));

  const auto arguments = RecordedArguments(RecordPath(), 100);
  ASSERT_TRUE(arguments.has_value()) << "the extractor was not started";
  ASSERT_EQ(arguments->size(), 5u);
  package_ = (*arguments)[3];
  EXPECT_EQ(*arguments, platform::SplitParameters(L"x -o+ -y \"" + package_ + L"\" \"" + agentDir_ +
                                                  L"update.partial" + kSep + L"\""));
  // The package and its empty temporary name lie in a folder of their own below the
  // temporary directory, which goes once the extractor has ended.
  const std::wstring tempFile = package_.substr(0, package_.size() - 4);
  const std::wstring folder = package_.substr(0, package_.rfind(kSep) + 1);
  EXPECT_EQ(folder.substr(0, GetTempDir().size() + 14), GetTempDir() + L"kivo9-package-");
  EXPECT_EQ(package_.substr(folder.size(), 3), L"~GF");
  EXPECT_EQ(package_.substr(package_.size() - 8), L".tmp.rar");
  EXPECT_EQ(platform::ReadWholeFile(package_), "package for zh");
  EXPECT_EQ(platform::ReadWholeFile(tempFile), "");
  ASSERT_NE(step_.handOver, nullptr);
  const UnpackedTree tree = step_.handOver->Wait(30000);
  EXPECT_FALSE(tree) << "the recorder unpacks nothing";
  EXPECT_EQ(tree.there.why(),
            "the tree has no " + platform::ToUtf8(platform::NativePath(L"Resource\\version.ini")));
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(PathExists(agentDir_ + L"update" + kSep));
}

TEST_F(DownloadAndUnpackTest, NoPackageUnderAnyNameCreatesAndStartsNothing) {
  const std::string id = platform::ToUtf8(GetHardwareId());
  server_.Serve("");
  EXPECT_EQ(DownloadAndUnpackFor({L"enus", L"en", L""}, agentDir_), 0);
  EXPECT_EQ(step_.started.why(), "no name yielded a package");
  EXPECT_EQ(
      server_.RequestedUrls(),
      (std::vector<std::string>{
          StatsUrl("enus", id, 0), DownloadUrl("enus"), StatsUrl("en", id, 0), DownloadUrl("en"),
          LoopbackServer::Url(buildconfig::kStatsHost, "/tg/kivopatch/?hardid=" + id + "&times=0"),
          DownloadUrl("")}));
  EXPECT_FALSE(PathExists(agentDir_ + L"update" + kSep));
  EXPECT_FALSE(PathExists(agentDir_ + L"update.partial" + kSep));
  EXPECT_FALSE(RecordedArguments(RecordPath(), 10).has_value());
}

TEST_F(DownloadAndUnpackTest, AnInstallationPathWithAQuoteIsRefusedBeforeAnyRequest) {
  server_.Serve(Route(buildconfig::kDownloadHost, "/d/u.jpg", "package"));
  const std::wstring quoted = dir_.path() + L"a\" -o- \"b" + kSep;
  EXPECT_EQ(DownloadAndUnpackFor({L"", L"", L""}, quoted), 0);
  EXPECT_EQ(step_.started.why(), "a path holds a double quote");
  EXPECT_TRUE(server_.RequestedUrls().empty());
  EXPECT_FALSE(PathExists(quoted));
}

TEST_F(DownloadAndUnpackTest, RequestCarriesTheUsedTimesOfTheUserSettings) {
  CreateDirectoryChain(agentDir_ + L"User" + kSep);
  const AgentLayout layout(agentDir_);
  EXPECT_EQ(MakePackageRequest(layout, L"zhcn").usedTimes, 0);
  ASSERT_TRUE(
      platform::WriteWholeFile(layout.GetUserConfigPath(), "[Settings]\r\nUsedTimes=5\r\n"));
  const PackageRequest request = MakePackageRequest(layout, L"zhcn");
  EXPECT_EQ(request.name, L"zhcn");
  EXPECT_EQ(request.hardwareId, GetHardwareId());
  EXPECT_EQ(request.usedTimes, 5);
  EXPECT_EQ(layout.GetUserConfigPath(), agentDir_ + L"User" + kSep + L"UserConfig.ini");
}

}  // namespace
