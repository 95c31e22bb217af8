// Profile files at the size of large filter lists: one section of 50,000 keys, read one key at
// a time through the profile functions, then written back as one section.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kKeys = 50000;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::wstring Key(int i) { return L"Filter" + std::to_wstring(i); }
std::wstring Value(int i) { return L"*://ads" + std::to_wstring(i) + L".example.com/banner/*"; }

void WriteSampleFile(const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  out << "[Settings]\r\nCount=" << kKeys << "\r\n[Filter]\r\n";
  for (int i = 1; i <= kKeys; ++i) {
    out << "Filter" << i << "=*://ads" << i << ".example.com/banner/*\r\n";
  }
  out << "[After]\r\nkept=1\r\n";
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "kivo-profile-bench";
  fs::create_directories(dir);
  const fs::path path = dir / "filters.ini";
  WriteSampleFile(path);
  const std::wstring file = path.wstring();

  const auto readStart = Clock::now();
  platform::ProfileEntries entries;
  entries.reserve(kKeys);
  int wrong = 0;
  double firstSeconds = 0;
  for (int i = 1; i <= kKeys; ++i) {
    std::wstring value = platform::ReadProfileString(L"Filter", Key(i), L"", 1024, file);
    if (value != Value(i)) ++wrong;
    entries.emplace_back(Key(i), std::move(value));
    if (i == 1) firstSeconds = SecondsSince(readStart);
  }
  const double readSeconds = SecondsSince(readStart);

  const auto sectionStart = Clock::now();
  const std::size_t listed = platform::ReadProfileSection(L"Filter", file).size();
  const double sectionSeconds = SecondsSince(sectionStart);

  const auto writeStart = Clock::now();
  const bool written = platform::WriteProfileEntries(L"Filter", entries, file);
  const double writeSeconds = SecondsSince(writeStart);

  // Every read asks the file system whether the file changed; this is that part alone.
  const auto queryStart = Clock::now();
  for (int i = 0; i < kKeys; ++i) platform::PathQuery(file);
  const double querySeconds = SecondsSince(queryStart);

  std::printf("read %d keys one at a time: %.3f s, of which the first read %.3f s (%d wrong)\n",
              kKeys, readSeconds, firstSeconds, wrong);
  std::printf("  for scale: %d file status queries alone: %.3f s\n", kKeys, querySeconds);
  std::printf("read the section whole (%zu lines): %.3f s\n", listed, sectionSeconds);
  std::printf("write %d keys as one section: %.3f s (%s)\n", kKeys, writeSeconds,
              written ? "ok" : "FAILED");
  fs::remove_all(dir);
  return wrong == 0 && written && listed == static_cast<std::size_t>(kKeys) ? 0 : 1;
}
