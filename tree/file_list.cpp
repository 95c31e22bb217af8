#include "tree/file_list.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/install_names.h"

namespace tree {
namespace {

// Nineteen digits at most, as lists have always been read.
constexpr std::uint64_t kSizeMax = 9'999'999'999'999'999'999ull;

// Lists write '/' only; the rest is the rule every place an update names follows.
bool IsListablePath(const std::string& path) {
  return path.find('\\') == std::string::npos && IsUpdatablePath(platform::FromUtf8(path));
}

}  // namespace

std::wstring FileListPath() {
  return std::wstring(kResourceDirName) + platform::kSep + L"files.lst";
}

OrWhy<std::vector<ListedFile>> ParseFileList(const std::string& text) {
  std::vector<ListedFile> files;
  std::set<std::string> seen;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    const std::string_view fields(line);
    const auto sha256 = platform::ParseHexDigest(fields.substr(0, first));
    const auto size =
        second == std::string::npos
            ? std::nullopt
            : platform::ParseDecimal(fields.substr(first + 1, second - first - 1), kSizeMax);
    const std::string path = second == std::string::npos ? "" : line.substr(second + 1);
    if (!sha256 || !size || !IsListablePath(path) || !seen.insert(path).second) {
      return Outcome::No("bad file list line: " + line);
    }
    files.push_back(ListedFile{path, *size, *sha256});
  }
  return files;
}

OrWhy<std::vector<TreeFile>> CheckAgainstFileList(const std::wstring& root,
                                                  const TreeListing& listing) {
  std::vector<TreeFile> listed;
  std::string text;
  if (!platform::ReadWholeFile(root + FileListPath(), kFileListLimitBytes, text)) {
    return Outcome::No("cannot read " + platform::ToUtf8(root + FileListPath()));
  }
  const auto parsed = ParseFileList(text);
  if (!parsed) return parsed.outcome();
  const std::vector<ListedFile>& entries = *parsed;
  std::map<std::string, const ListedFile*> byPath;
  for (const ListedFile& entry : entries) byPath[entry.path] = &entry;
  const std::string listItself = ListPath(FileListPath());
  for (const TreeFile& file : listing.files) {
    const std::string path = ListPath(file.path);
    if (path == listItself) {
      listed.push_back(file);
      continue;
    }
    const auto found = byPath.find(path);
    if (found == byPath.end()) continue;
    if (found->second->size != file.size) {
      return Outcome::No("size differs from the file list: " + platform::ToUtf8(file.path));
    }
    if (platform::Sha256OfFile(root + file.path) != std::optional(found->second->sha256)) {
      return Outcome::No("content differs from the file list: " + platform::ToUtf8(file.path));
    }
    listed.push_back(file);
  }
  if (listed.size() != entries.size() + 1) {
    return Outcome::No("a listed file is missing");
  }
  return listed;
}

}  // namespace tree
