#include "agent/run/hand_over.h"

#include <vector>

#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/file_list.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace {

// Only an unpacked package goes on: it holds the marker, names no reserved place, and, with
// a file list, holds every listed file as listed; one without a list (an older publisher) is
// taken whole. An extractor that failed or unpacked nothing leaves no marker, and a pending
// update is never traded for such a tree. The tree is flushed first: once renamed, it must
// not turn out torn after a power cut. Ok when the tree goes on, else why not.
Outcome CheckTree(const std::wstring& dir) {
  if (platform::QueryPath(dir + tree::MarkerPath()).kind != platform::PathKind::File) {
    return Outcome::No("the tree has no " + platform::ToUtf8(tree::MarkerPath()));
  }
  const auto listed = tree::ListTree(dir);
  if (!listed) return listed.outcome();
  const tree::TreeListing& listing = *listed;
  if (const auto reserved = tree::ReservedPathIn(listing)) {
    return Outcome::No("the tree names a place no update may change: " +
                       platform::ToUtf8(*reserved));
  }
  const Outcome unflushed = Outcome::No("the tree could not be flushed");
  for (const tree::TreeFile& file : listing.files) {
    if (!platform::FlushFile(dir + file.path)) return unflushed;
  }
  for (const std::wstring& sub : listing.directories) {
    if (!platform::FlushDirectory(dir + sub)) return unflushed;
  }
  if (!platform::PathQuery(dir + tree::FileListPath())) return {};
  return tree::CheckAgainstFileList(dir, listing).outcome();
}

// The staged tree becomes the update directory; one an earlier run left goes first, aside
// and then away, so that the update directory is at every moment one whole tree or absent.
bool RenameIntoPlace(const platform::DirPath& staging, const platform::DirPath& update) {
  const platform::DirPath aside(tree::AsidePathOf(update.Path()));
  if (platform::PathQuery(aside.Path()) && !tree::RemoveTree(aside.Slashed())) return false;
  if (platform::PathQuery(update.Path()) && !platform::MovePath(update.Path(), aside.Path())) {
    return false;
  }
  if (!platform::MovePath(staging.Path(), update.Path())) return false;
  platform::FlushDirectory(platform::ParentOf(update.Path()));
  if (platform::PathQuery(aside.Path())) tree::RemoveTree(aside.Slashed());
  return true;
}

}  // namespace

std::wstring StagingDirFor(const std::wstring& updateDir) {
  return platform::DirPath(platform::DirPath(updateDir).Path() + L".partial").Slashed();
}

bool PrepareStaging(const std::wstring& stagingDir) {
  return tree::RemoveTree(stagingDir) &&
         platform::MakeDirectory(platform::DirPath(stagingDir).Path());
}

UnpackedTree TreeInUpdateDir(const AgentLayout& layout) {
  return {layout.GetUpdateDir(),
          layout.GetUpdateResourceDir(),
          layout.GetUnpackedMarkerPath(),
          layout.GetPostUpgradeProgramPath(),
          {}};
}

PendingHandOver::PendingHandOver(std::wstring packageFolder, const AgentLayout& layout)
    : packageFolder_(std::move(packageFolder)),
      stagingDir_(StagingDirFor(layout.GetUpdateDir())),
      tree_(TreeInUpdateDir(layout)) {
  tree_.there = Outcome::No("no extractor was started");
}

PendingHandOver::~PendingHandOver() {
  // An extractor still running here was never waited for (the run ended early): it reads
  // the package, which stays then; a later run's folder is another one.
  if (extractor_.IsStarted()) {
    std::uint32_t exitCode = 0;
    if (!extractor_.Wait(0, exitCode)) return;
  }
  tree::RemoveTree(packageFolder_);
}

bool PendingHandOver::Start(const std::wstring& extractor, const std::wstring& parameters) {
  return PrepareStaging(stagingDir_) && extractor_.Start(extractor, parameters, L"");
}

UnpackedTree PendingHandOver::Wait(std::uint32_t timeoutMs) {
  if (!extractor_.IsStarted()) return tree_;
  std::uint32_t exitCode = 0;
  const bool ended = extractor_.Wait(timeoutMs, exitCode);
  if (!ended) extractor_.Kill();  // half a tree is worth nothing: it goes
  tree::RemoveTree(packageFolder_);
  tree_.there = !ended ? Outcome::No("the extractor did not end within " +
                                     std::to_string(timeoutMs / 1000) + " s")
                : exitCode != 0
                    ? Outcome::No("the extractor ended with code " + std::to_string(exitCode))
                    : CheckTree(stagingDir_);
  if (!tree_) tree::RemoveTree(stagingDir_);
  return tree_;
}

UnpackedTree PendingHandOver::Commit() {
  if (tree_ && !RenameIntoPlace(platform::DirPath(stagingDir_), platform::DirPath(tree_.dir))) {
    return Drop("the tree could not be renamed into place");
  }
  return tree_;
}

UnpackedTree PendingHandOver::Drop(std::string why) {
  tree::RemoveTree(stagingDir_);
  tree_.there = Outcome::No(std::move(why));
  return tree_;
}
