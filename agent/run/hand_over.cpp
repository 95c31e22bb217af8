#include "agent/run/hand_over.h"

#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform_native.h"
#include "tree/file_list.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace {

bool Exists(const std::wstring& path) {
  return platform::QueryPath(path).kind != platform::PathKind::Missing;
}

// Only an unpacked package goes on: it holds the marker, names no reserved place, and, with
// a file list, holds every listed file as listed; one without a list (an older publisher) is
// taken whole. An extractor that failed or unpacked nothing leaves no marker, and a pending
// update is never traded for such a tree. The tree is flushed first: once renamed, it must
// not turn out torn after a power cut. Why a tree is dropped is not shown: the console
// messages of the run are the same either way.
bool TreeIsComplete(const std::wstring& dir) {
  if (platform::QueryPath(dir + tree::MarkerPath()).kind != platform::PathKind::File) return false;
  tree::TreeListing listing;
  std::wstring problem;
  if (!tree::ListTree(dir, listing, problem) || tree::ReservedPathIn(listing)) return false;
  for (const tree::TreeFile& file : listing.files) {
    if (!platform::FlushFile(dir + file.path)) return false;
  }
  for (const std::wstring& sub : listing.directories) {
    if (!platform::FlushDirectory(dir + sub)) return false;
  }
  if (!Exists(dir + tree::FileListPath())) return true;
  std::vector<tree::TreeFile> listed;
  return tree::CheckAgainstFileList(dir, listing, listed, problem);
}

// The staged tree becomes the update directory; one an earlier run left goes first, aside
// and then away, so that the update directory is at every moment one whole tree or absent.
bool RenameIntoPlace(const std::wstring& stagingDir, const std::wstring& updateDir) {
  const std::wstring update = tree::WithoutSeparator(updateDir);
  const std::wstring aside = update + L".old";
  if (Exists(aside) && !tree::RemoveTree(aside + platform::kSep)) return false;
  if (Exists(update) && !platform::MovePath(update, aside)) return false;
  const std::wstring parent = update.substr(0, update.rfind(platform::kSep) + 1);
  if (!platform::MovePath(tree::WithoutSeparator(stagingDir), update)) return false;
  platform::FlushDirectory(parent);
  if (Exists(aside)) tree::RemoveTree(aside + platform::kSep);
  return true;
}

}  // namespace

std::wstring StagingDirFor(const std::wstring& updateDir) {
  return tree::WithoutSeparator(updateDir) + L".partial" + platform::kSep;
}

bool PrepareStaging(const std::wstring& stagingDir) {
  return tree::RemoveTree(stagingDir) &&
         platform::MakeDirectory(tree::WithoutSeparator(stagingDir));
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
  return extractor_.Start(extractor, parameters, L"");
}

bool PendingHandOver::Complete(std::uint32_t timeoutMs) {
  if (!extractor_.IsStarted()) return false;
  std::uint32_t exitCode = 0;
  const bool ended = extractor_.Wait(timeoutMs, exitCode);
  if (!ended) extractor_.Kill();  // half a tree is worth nothing: it goes
  tree::RemoveTree(packageFolder_);
  if (!ended || exitCode != 0 || !TreeIsComplete(stagingDir_) ||
      !RenameIntoPlace(stagingDir_, updateDir_)) {
    tree::RemoveTree(stagingDir_);
    return false;
  }
  return true;
}
