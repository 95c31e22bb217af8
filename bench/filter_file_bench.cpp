// Reading one very large user filter file, as the merge reads each of the user's lists: the
// time, and the peak memory the read adds (Linux: the process's peak resident set, reset
// before the read). The file holds one list whose lines are as long as real filter lines.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "agent/filters/filter_list.h"
#include "agent/filters/ini_list.h"
#include "platform/entry.h"
#include "platform/test_support.h"

namespace {

// The process's peak resident set in bytes (VmHWM); 0 when it cannot be read.
std::size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoul(line.c_str() + 6, nullptr, 10) * 1024;
  }
  return 0;
}

// Starts a new peak at the present resident set (Linux 4.0 and later).
bool ResetPeak() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"); }

// Writes a file of about megabytes MB; returns the number of entries.
std::size_t WriteFilterFile(const std::wstring& path, std::size_t megabytes) {
  std::ofstream out(platform::FileSystemPath(path), std::ios::binary);
  out << "[UrlFilter]\r\n";
  std::size_t n = 0;
  for (std::size_t bytes = 0; bytes < megabytes << 20;) {
    const std::string number = std::to_string(++n);
    const std::string line =
        "url" + number + "=||ads" + number + ".example.com/banner/*^$third-party,image\r\n";
    out << line;
    bytes += line.size();
  }
  out << "[After]\r\nkept=1\r\n";
  return out ? n : 0;
}

}  // namespace

// The argument, when given, is the file's size in MB (default 200).
int main(int argc, char** argv) {
  platform::KeepFreedMemoryForReuse();  // as the agent's entry does
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"Filter.ini";
  const std::size_t written = dir.path().empty() ? 0 : WriteFilterFile(path, megabytes);
  if (written == 0) {
    std::printf("could not write the test file\n");
    return 1;
  }
  const double fileMb = static_cast<double>(platform::ReadWholeFile(path).size()) / (1 << 20);

  const std::size_t before = PeakResidentBytes();
  const bool reset = ResetPeak();
  const auto start = std::chrono::steady_clock::now();
  CFilterList list;
  ReadIniList(path, L"UrlFilter", L"url", list);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const double peakMb = static_cast<double>(PeakResidentBytes() - (reset ? 0 : before)) / (1 << 20);

  std::printf("user filter file: %.1f MB, %zu entries\n", fileMb, written);
  std::printf("read into the merge's list: %.2f s, %zu entries (%s)\n", took.count(),
              list.GetCount(), list.GetCount() == written ? "all" : "WRONG COUNT");
  std::printf("peak resident memory during the read: %.1f MB (%.2f times the file)%s\n", peakMb,
              peakMb / fileMb, reset ? "" : ", without the reset: peak of the whole process");
  return list.GetCount() == written ? 0 : 1;
}
