#include "platform/dir_path.h"
#include "platform/files.h"

namespace platform {

std::wstring ScratchPathOf(std::wstring_view path) { return std::wstring(path) + L".new"; }

bool ReplaceFileDurably(const std::wstring& path, const std::string& bytes) {
  const std::wstring scratch = ScratchPathOf(path);
  RemoveFile(scratch);
  // A small state file's place taken by an empty folder would fail every write for good.
  if (QueryPath(path).kind == PathKind::Directory) RemoveEmptyDirectory(path);
  if (WriteFileFlushed(scratch, bytes, false) && MovePath(scratch, path) &&
      FlushDirectory(ParentOf(path))) {
    return true;
  }
  RemoveFile(scratch);
  return false;
}

}  // namespace platform
