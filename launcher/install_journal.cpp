#include "launcher/install_journal.h"

#include <cstdint>
#include <cstdio>

#include "platform/text.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr char kHeader[] = "kivo9-install 2";
constexpr char kFirstHeader[] = "kivo9-install 1";  // before the end line carried a checksum

// Detects a journal damaged on disk; what it names is checked by the path rule besides.
std::string Checksum(const std::string& text, std::size_t length) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(text[i])) * 0x100000001b3ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

// The path after a record's keyword; "" when it is not one an update may name. Journals are
// written with '/' only.
std::wstring RecordPath(const std::string& line, std::size_t keywordLength) {
  const std::wstring path = platform::FromUtf8(line.substr(keywordLength));
  if (path.find(L'\\') != std::wstring::npos || !tree::IsUpdatablePath(path)) return L"";
  return platform::NativePath(path);
}

}  // namespace

std::string FormatJournal(const InstallJournal& journal) {
  std::string text = std::string(kHeader) + "\n";
  for (const auto& dir : journal.createdDirectories) text += "dir " + tree::ListPath(dir) + "\n";
  for (const auto& file : journal.files) {
    text += (file.replaces ? "replace " : "new ") + tree::ListPath(file.path) + "\n";
  }
  return text + "end " + Checksum(text, text.size()) + "\n";
}

std::string CommitLine() { return "commit\n"; }

OrWhy<InstallJournal> ParseJournal(const std::string& text) {
  InstallJournal journal;
  const auto refuse = [](std::string why) { return Outcome::No(std::move(why)); };
  std::string header;
  bool ended = false;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line cut short
    const std::string line = text.substr(start, end - start);
    const std::size_t lineStart = start;
    start = end + 1;
    if (header.empty()) {
      if (line != kHeader && line != kFirstHeader) return refuse("not a journal");
      header = line;
    } else if (ended) {
      if (line == "commit") journal.committed = true;
    } else if (line.rfind("end", 0) == 0) {
      const std::string expected = header == kHeader ? "end " + Checksum(text, lineStart) : "end";
      if (line != expected) return refuse("the journal's checksum does not match");
      ended = true;
    } else if (line.rfind("dir ", 0) == 0) {
      journal.createdDirectories.push_back(RecordPath(line, 4));
      if (journal.createdDirectories.back().empty()) return refuse("a record's path: " + line);
    } else if (line.rfind("new ", 0) == 0 || line.rfind("replace ", 0) == 0) {
      const bool replaces = line[0] == 'r';
      journal.files.push_back({RecordPath(line, replaces ? 8 : 4), replaces});
      if (journal.files.back().path.empty()) return refuse("a record's path: " + line);
    } else {
      return refuse("an unknown record: " + line);
    }
  }
  if (!ended) return refuse("the journal is cut short");
  return journal;
}

}  // namespace launcher
