// The launcher's reading of paths: the parts of a path make up the path again.
#include <cstddef>
#include <cstdint>

#include "disk_object/path_rules.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring path = fuzz::WideText(data, size);
  launcher::UseNativeSeparators(path);
  const launcher::PathParts parts = launcher::SplitPath(path);
  fuzz::Require(parts.drive + parts.directory + parts.name + parts.extension == path,
                "the parts of a path join to the path");
  const launcher::RootAndParts split = launcher::SplitRoot(path);
  std::size_t length = split.root.size();
  for (const std::wstring& part : split.parts) {
    fuzz::Require(!part.empty() && path.find(part) != std::wstring::npos,
                  "each part is a piece of the path");
    length += part.size();
  }
  fuzz::Require(length <= path.size(), "the parts are no longer than the path");
  const std::wstring joined = launcher::JoinToDirectory(parts.directory, parts.name);
  fuzz::Require(joined.ends_with(parts.name) && joined.size() >= parts.name.size() + 1,
                "a join keeps the name after one separator");
  return 0;
}
