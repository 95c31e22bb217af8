// The hand-over of an unpacked package to the launcher. The extractor unpacks into a
// staging directory beside the update directory (same volume); only once it has ended, and
// the tree matches its Resource/files.lst when it has one, is the staging directory renamed
// to the update directory. The launcher, the filter merge and the post-upgrade program so
// never see half a tree.
#pragma once

#include <cstdint>
#include <string>

#include "agent/base/layout.h"
#include "platform/outcome.h"
#include "platform/process.h"

// The staging directory for updateDir (which ends with a separator): "update.partial" beside
// it, ending with a separator.
std::wstring StagingDirFor(const std::wstring& updateDir);

// Removes what an earlier run left in stagingDir and creates it empty. False when that
// fails (the extractor is then not started).
bool PrepareStaging(const std::wstring& stagingDir);

// The tree a package step handed over: the update directory now holding one whole, checked
// tree, with the places the run acts on in it; or why there is none.
struct UnpackedTree {
  std::wstring dir;          // the update directory, ending with a separator
  std::wstring resourceDir;  // its Resource/, ending with a separator
  std::wstring markerPath;   // its Resource/version.ini
  std::wstring postUpgradeProgramPath;
  Outcome there;  // why not, when there is no tree

  explicit operator bool() const { return there.ok(); }
};

// The places of a tree in the update directory of layout, as a tree that is there.
UnpackedTree TreeInUpdateDir(const AgentLayout& layout);

// One package being unpacked: the extractor started on it, where it writes, and the private
// folder the package lies in. The folder goes with the object, once the extractor has ended
// or been stopped (or, without a start, at once), so that no package is left behind.
class PendingHandOver {
 public:
  // For the installation of layout, with the package in packageFolder; the extractor writes
  // into StagingDirFor(layout's update directory).
  PendingHandOver(std::wstring packageFolder, const AgentLayout& layout);
  ~PendingHandOver();
  PendingHandOver(const PendingHandOver&) = delete;
  PendingHandOver& operator=(const PendingHandOver&) = delete;

  const std::wstring& StagingDir() const { return stagingDir_; }

  // Empties the staging directory and starts the extractor hidden on it, for Wait to wait
  // for. False when either fails; Wait then says so.
  bool Start(const std::wstring& extractor, const std::wstring& parameters);

  // Waits at most timeoutMs for the extractor and checks the tree it left. Returns the tree
  // with the places it will have once committed, or why there is none: nothing was started,
  // the extractor did not end in time (it is stopped) or failed, or the tree is no unpacked
  // package (CheckTree in hand_over.cpp); the staging directory is then removed. Either
  // way the package folder is removed. Nothing is handed over yet.
  UnpackedTree Wait(std::uint32_t timeoutMs);

  // Hands over the tree Wait accepted: the update directory now holds it whole (one an
  // earlier run left is replaced). Else the tree says why (the rename failed, or Wait
  // accepted none) and the staging directory is removed.
  UnpackedTree Commit();

  // Drops the tree Wait accepted, for why: the staging directory is removed and an update
  // directory an earlier run left stays as it was. Returns the tree with why.
  UnpackedTree Drop(std::string why);

 private:
  platform::ChildProcess extractor_;
  std::wstring packageFolder_;
  std::wstring stagingDir_;
  UnpackedTree tree_;  // what Wait found: why it is none, or the tree to commit
};
