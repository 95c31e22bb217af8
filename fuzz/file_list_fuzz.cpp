// Resource/files.lst as a package brings it: a list that is read names only files inside the
// tree, outside the user's folder, each once, and reads the same once written again.
#include <cstddef>
#include <cstdint>
#include <set>

#include "fuzz_input.h"
#include "tree/file_list.h"
#include "tree/install_names.h"
#include "update_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed = tree::ParseFileList(std::string(fuzz::Bytes(data, size)));
  if (!parsed) {
    fuzz::Require(!parsed.why().empty(), "a refused list says why");
    return 0;
  }
  const std::vector<tree::ListedFile>& files = *parsed;
  std::set<std::string> seen;
  std::string written;
  for (const tree::ListedFile& file : files) {
    const std::wstring path = platform::FromUtf8(file.path);
    fuzz::Require(fuzz::StaysBelowRoot(path) && tree::IsUpdatablePath(path),
                  "a listed file stays inside the tree");
    fuzz::Require(seen.insert(file.path).second, "a file is listed once");
    written +=
        platform::HexDigest(file.sha256) + " " + std::to_string(file.size) + " " + file.path + "\n";
  }
  const auto reread = tree::ParseFileList(written);
  fuzz::Require(reread && reread->size() == files.size(), "a written list reads back");
  const std::vector<tree::ListedFile>& again = *reread;
  for (std::size_t i = 0; i < files.size(); ++i) {
    fuzz::Require(again[i].path == files[i].path && again[i].size == files[i].size &&
                      again[i].sha256 == files[i].sha256,
                  "a written list reads as the same");
  }
  return 0;
}
