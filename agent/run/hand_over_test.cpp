// The hand-over of an unpacked tree, with the recorder as an extractor that unpacks nothing:
// the test lays out the staging tree itself while the recorder runs.
#include "agent/run/hand_over.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/crypto.h"
#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/test_support.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/update_tree.h"

namespace {

const std::wstring kSep(1, platform::kSep);

std::string ListLine(const std::string& bytes, const std::string& path) {
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return platform::HexDigest(hash.Finish()) + " " + std::to_string(bytes.size()) + " " + path +
         "\n";
}

class HandOverTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    const std::wstring own = platform::OwnExecutablePath();
    extractor_ = dir_.path() + L"UnPack" + platform::kProgramSuffix;
    ASSERT_TRUE(platform::CopyFileOverwrite(
        platform::ParentOf(own) + L"recorder" + platform::kProgramSuffix, extractor_));
    CreateDirectoryChain(layout_.AgentDir());
  }
  void Put(const std::wstring& root, const std::wstring& relative, const std::string& bytes) {
    const std::wstring path = root + platform::NativePath(relative);
    CreateDirectoryChain(platform::ParentOf(path));
    ASSERT_TRUE(platform::WriteWholeFile(path, bytes));
  }

  platform::ScopedTempDir dir_;
  AgentLayout layout_{dir_.path() + L"Kivo9Data" + kSep};
  std::wstring extractor_;
};

TEST_F(HandOverTest, OnlyAWholeCheckedTreeReplacesTheUpdateDirectory) {
  const std::string version = "[Version]\r\nupdate=1206\r\n";
  const std::string list = ListLine(version, "Resource/version.ini") + ListLine("exe", "Kivo9.exe");
  const std::string marker =
      "the tree has no " + platform::ToUtf8(platform::NativePath(L"Resource\\version.ini"));
  const struct {
    std::function<void(const std::wstring& staging)> layOut;
    bool extractorFails;
    std::string why;
    std::string unwanted;  // what the last question before the hand-over answers
  } cases[] = {
      {[&](const std::wstring& s) {
         Put(s, L"Resource\\version.ini", version);
         Put(s, L"Kivo9.exe", "exe");
         Put(s, L"Resource\\files.lst", list);
       },
       false, "", ""},
      {[&](const std::wstring& s) { Put(s, L"Kivo9.exe", "exe"); }, false, marker, ""},
      {[&](const std::wstring& s) {
         Put(s, L"Resource\\version.ini", version);
         Put(s, L"install.journal", "");
       },
       false, "the tree names a place no update may change: install.journal", ""},
      {[&](const std::wstring& s) {
         Put(s, L"Resource\\version.ini", version);
         Put(s, L"Kivo9.exe", "exf");
         Put(s, L"Resource\\files.lst", list);
       },
       false, "content differs from the file list: Kivo9.exe", ""},
      {[&](const std::wstring& s) { Put(s, L"Resource\\version.ini", version); }, true,
       "the extractor ended with code 1", ""},
      {[&](const std::wstring& s) {
         Put(s, L"Resource\\version.ini", version);
         Put(s, L"Kivo9.exe", "exe");
       },
       false, "release 1206 is halted", "release 1206 is halted"},
  };
  for (const auto& c : cases) {
    Put(layout_.GetUpdateDir(), L"Kivo9.exe", "pending");  // an update an earlier run left
    const std::wstring packageFolder = dir_.path() + L"package" + kSep;
    CreateDirectoryChain(packageFolder);
    PendingHandOver handOver(packageFolder, layout_);
    // A record that cannot be written makes the recorder fail.
    const std::wstring record = extractor_ + L".record";
    tree::RemoveTree(record + kSep);
    if (c.extractorFails) CreateDirectoryChain(record + kSep);
    ASSERT_TRUE(handOver.Start(extractor_, L"x"));
    c.layOut(handOver.StagingDir());
    UnpackedTree tree = handOver.Wait(30000);
    if (tree) tree = c.unwanted.empty() ? handOver.Commit() : handOver.Drop(c.unwanted);
    EXPECT_EQ(tree.there.why(), c.why);
    EXPECT_EQ(bool(tree), c.why.empty());
    EXPECT_EQ(platform::ReadWholeFile(tree.dir + L"Kivo9.exe"), c.why.empty() ? "exe" : "pending");
    EXPECT_FALSE(PathExists(handOver.StagingDir()));
    EXPECT_FALSE(PathExists(packageFolder)) << "the package goes either way";
  }
  PendingHandOver never(dir_.path() + L"package" + kSep, layout_);
  EXPECT_EQ(never.Wait(0).there.why(), "no extractor was started");
}

}  // namespace
