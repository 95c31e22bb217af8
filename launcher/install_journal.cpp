#include "launcher/install_journal.h"

#include "platform/text.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr char kHeader[] = "kivo9-install 1";

std::wstring FromListPath(const std::string& path) {
  return platform::NativePath(platform::FromUtf8(path));
}

}  // namespace

std::string FormatJournal(const InstallJournal& journal) {
  std::string text = std::string(kHeader) + "\n";
  for (const auto& dir : journal.createdDirectories) text += "dir " + tree::ListPath(dir) + "\n";
  for (const auto& file : journal.files) {
    text += (file.replaces ? "replace " : "new ") + tree::ListPath(file.path) + "\n";
  }
  return text + "end\n";
}

std::string CommitLine() { return "commit\n"; }

bool ParseJournal(const std::string& text, InstallJournal& journal) {
  journal = {};
  bool header = false;
  bool ended = false;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line cut short
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!header) {
      if (line != kHeader) return false;
      header = true;
    } else if (ended) {
      if (line == "commit") journal.committed = true;
    } else if (line == "end") {
      ended = true;
    } else if (line.rfind("dir ", 0) == 0 && line.size() > 4) {
      journal.createdDirectories.push_back(FromListPath(line.substr(4)));
    } else if (line.rfind("new ", 0) == 0 && line.size() > 4) {
      journal.files.push_back({FromListPath(line.substr(4)), false});
    } else if (line.rfind("replace ", 0) == 0 && line.size() > 8) {
      journal.files.push_back({FromListPath(line.substr(8)), true});
    } else {
      return false;
    }
  }
  return ended;
}

}  // namespace launcher
