#include "platform/run_lock.h"

#include <gtest/gtest.h>

#include "platform/test_support.h"

namespace platform {
namespace {

TEST(RunLock, OneHolderAtATimeAndFreeOnceItGoes) {
  ScopedTempDir dir;
  const std::wstring path = dir.path() + L"agent.lock";
  {
    RunLock first = RunLock::Take(path);
    ASSERT_EQ(first.State(), RunLockState::Held);
    EXPECT_EQ(RunLock::Take(path).State(), RunLockState::HeldByOther);
    RunLock moved = std::move(first);  // the hold goes with the value, not with the first name
    EXPECT_EQ(RunLock::Take(path).State(), RunLockState::HeldByOther);
  }
  EXPECT_EQ(RunLock::Take(path).State(), RunLockState::Held);
  EXPECT_EQ(ReadWholeFile(path), "");  // never written
}

// An emulator may make a link that its own file queries then follow: such a link is no case.
bool MadeLink(const std::wstring& target, const std::wstring& link) {
  return MakeSymbolicLink(target, link, false) && QueryPath(link).kind == PathKind::Link;
}

TEST(RunLock, NothingButAPlainFileCanBeHeld) {
  ScopedTempDir dir;
  const std::wstring outside = dir.path() + L"outside.txt";
  ASSERT_TRUE(WriteWholeFile(outside, "kept"));
  struct Case {
    const char* what;
    std::wstring path;
    bool (*make)(const std::wstring& path, const std::wstring& outside);
  };
  const Case cases[] = {
      {"a link to a file", dir.path() + L"link.lock",
       [](const std::wstring& p, const std::wstring& o) { return MadeLink(o, p); }},
      {"a dangling link", dir.path() + L"dangling.lock",
       [](const std::wstring& p, const std::wstring& o) { return MadeLink(o + L".none", p); }},
      {"a directory", dir.path() + L"dir.lock",
       [](const std::wstring& p, const std::wstring&) { return MakeDirectory(p).ok(); }},
      {"a missing folder", dir.path() + L"none" + kSep + L"agent.lock",
       [](const std::wstring&, const std::wstring&) { return true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.make(c.path, outside)) {
      GTEST_LOG_(INFO) << "cannot make " << c.what << " here";
      continue;
    }
    EXPECT_EQ(RunLock::Take(c.path).State(), RunLockState::Unavailable);
  }
  EXPECT_EQ(ReadWholeFile(outside), "kept");
  EXPECT_FALSE(PathQuery(outside + L".none"));  // nothing created through the dangling link
}

}  // namespace
}  // namespace platform
