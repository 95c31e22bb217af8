#include "launcher/install_journal.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/state_record.h"
#include "platform/text.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr char kKind[] = "kivo9-install";
constexpr int kFormat = 3;
constexpr platform::StateFormat kJournal{kKind, kFormat, 0, kJournalLimitBytes};
// Journals of earlier launchers: an "end" line instead of the sum line, with an FNV-1a
// checksum (2) or without one (1). They are still read, so that an install a crash cut short
// is finished or undone by the launcher that replaced the one that began it.
constexpr int kChecksumFormat = 2;
constexpr int kFirstFormat = 1;

// The FNV-1a checksum of a journal of format 2.
std::string Checksum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
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
  std::vector<std::string> lines;
  for (const auto& dir : journal.createdDirectories) lines.push_back("dir " + tree::ListPath(dir));
  for (const auto& file : journal.files) {
    lines.push_back((file.replaces ? "replace " : "new ") + tree::ListPath(file.path));
  }
  return platform::FormatStateRecord(kJournal, lines);
}

std::string CommitLine() { return "commit\n"; }

namespace {

// Whether a journal's record (its text up to and with its last line) holds together: its sum,
// or an earlier launcher's end line.
Outcome RecordHolds(std::string_view record, std::string_view head) {
  const Outcome damaged = Outcome::No("the journal's checksum does not match");
  if (head == std::string(kKind) + " " + std::to_string(kFormat)) {
    return platform::ParseStateRecord(record, kJournal) ? Outcome() : damaged;
  }
  const std::size_t endStart = record.rfind('\n', record.size() - 2) + 1;
  const std::string_view end = record.substr(endStart, record.size() - endStart - 1);
  const bool summed = head == std::string(kKind) + " " + std::to_string(kChecksumFormat);
  return end == (summed ? "end " + Checksum(record.substr(0, endStart)) : "end") ? Outcome()
                                                                                 : damaged;
}

// The journal's record lines and whether a commit line follows them; why not when the text
// holds no whole journal. A line cut short (a commit being appended) is no line.
OrWhy<std::pair<std::vector<std::string_view>, bool>> JournalLines(std::string_view text) {
  const std::string_view whole = text.substr(0, text.rfind('\n') + 1);
  const auto lines = platform::SplitLines(whole);
  const std::string head = std::string(kKind) + " ";
  const auto isHead = [&head, &lines](int format) {
    return lines->front() == head + std::to_string(format);
  };
  if (!lines || (!isHead(kFormat) && !isHead(kChecksumFormat) && !isHead(kFirstFormat))) {
    return Outcome::No("not a journal");
  }
  // The record ends with its sum line (format 3) or its end line (formats 1 and 2); what
  // follows can only be the commit line.
  const std::string_view last = isHead(kFormat) ? "sum " : "end";
  std::size_t recordEnd = lines->front().size() + 1;  // bytes of the record so far
  std::size_t lastLine = 1;
  for (; lastLine < lines->size(); ++lastLine) {
    recordEnd += (*lines)[lastLine].size() + 1;
    if ((*lines)[lastLine].substr(0, last.size()) == last) break;
  }
  if (lastLine == lines->size()) return Outcome::No("the journal is cut short");
  if (Outcome holds = RecordHolds(whole.substr(0, recordEnd), lines->front()); !holds) {
    return holds;
  }
  bool committed = false;
  for (std::size_t i = lastLine + 1; i < lines->size(); ++i) committed |= (*lines)[i] == "commit";
  return std::pair(std::vector<std::string_view>(lines->begin() + 1, lines->begin() + lastLine),
                   committed);
}

}  // namespace

OrWhy<InstallJournal> ParseJournal(const std::string& text) {
  const auto read = JournalLines(text);
  if (!read) return read.outcome();
  InstallJournal journal;
  journal.committed = read->second;
  for (const std::string_view record : read->first) {
    const std::string line(record);
    if (line.rfind("dir ", 0) == 0) {
      journal.createdDirectories.push_back(RecordPath(line, 4));
      if (journal.createdDirectories.back().empty()) {
        return Outcome::No("a record's path: " + line);
      }
    } else if (line.rfind("new ", 0) == 0 || line.rfind("replace ", 0) == 0) {
      const bool replaces = line[0] == 'r';
      journal.files.push_back({RecordPath(line, replaces ? 8 : 4), replaces});
      if (journal.files.back().path.empty()) return Outcome::No("a record's path: " + line);
    } else {
      return Outcome::No("an unknown record: " + line);
    }
  }
  return journal;
}

}  // namespace launcher
