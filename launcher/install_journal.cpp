#include "launcher/install_journal.h"

#include "platform/text.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr char kHeader[] = "kivo9-install 1";

std::wstring FromListPath(const std::string& path) {
  return platform::NativePath(platform::FromUtf8(path));
}

// A journal names places inside the data directory only: no empty part, "." or "..".
bool StaysInside(const std::string& path) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('/', start);
    const std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// The path after a record's keyword; "" when it is missing or leaves the data directory.
std::wstring RecordPath(const std::string& line, std::size_t keywordLength) {
  const std::string path = line.substr(keywordLength);
  return StaysInside(path) ? FromListPath(path) : L"";
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
    } else if (line.rfind("dir ", 0) == 0) {
      journal.createdDirectories.push_back(RecordPath(line, 4));
      if (journal.createdDirectories.back().empty()) return false;
    } else if (line.rfind("new ", 0) == 0 || line.rfind("replace ", 0) == 0) {
      const bool replaces = line[0] == 'r';
      journal.files.push_back({RecordPath(line, replaces ? 8 : 4), replaces});
      if (journal.files.back().path.empty()) return false;
    } else {
      return false;
    }
  }
  return ended;
}

}  // namespace launcher
