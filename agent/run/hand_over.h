// The hand-over of an unpacked package to the launcher. The extractor unpacks into a
// staging directory beside the update directory (same volume); only once it has ended, and
// the tree matches its Resource/files.lst when it has one, is the staging directory renamed
// to the update directory. The launcher, the filter merge and the post-upgrade program so
// never see half a tree.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"

// The staging directory for updateDir (which ends with a separator): "update.partial" beside
// it, ending with a separator.
std::wstring StagingDirFor(const std::wstring& updateDir);

// Removes what an earlier run left in stagingDir and creates it empty. False when that
// fails (the extractor is then not started).
bool PrepareStaging(const std::wstring& stagingDir);

// One package being unpacked: the extractor started on it, where it writes, and the private
// folder the package lies in. The folder goes with the object, once the extractor has ended
// or been stopped (or, without a start, at once), so that no package is left behind.
class PendingHandOver {
 public:
  PendingHandOver(std::wstring packageFolder, std::wstring stagingDir, std::wstring updateDir)
      : packageFolder_(std::move(packageFolder)),
        stagingDir_(std::move(stagingDir)),
        updateDir_(std::move(updateDir)) {}
  ~PendingHandOver();
  PendingHandOver(const PendingHandOver&) = delete;
  PendingHandOver& operator=(const PendingHandOver&) = delete;

  // Starts the extractor hidden, for Complete to wait for. False when it could not start.
  bool Start(const std::wstring& extractor, const std::wstring& parameters);

  // Waits at most timeoutMs for the extractor, then hands its tree over. Returns true when
  // the update directory now holds the complete tree. False, with no update directory made
  // from this package and the staging directory removed, when nothing was started, the
  // extractor did not end in time (it is stopped) or failed, or the tree is no unpacked
  // package (see TreeIsComplete in hand_over.cpp). An update directory an earlier run left
  // is replaced only by a complete tree. Either way the package folder is removed.
  bool Complete(std::uint32_t timeoutMs);

 private:
  platform::ChildProcess extractor_;
  std::wstring packageFolder_;
  std::wstring stagingDir_;
  std::wstring updateDir_;
};
