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

  platform::ProfileEntries expected;
  for (int i = 1; i <= kKeys; ++i) expected.emplace_back(Key(i), Value(i));

  // Values are compared and dropped: keeping 50,000 strings would time the memory for them.
  const auto readStart = Clock::now();
  double firstSeconds = 0;
  bool right = true;
  for (const auto& [key, value] : expected) {
    right = platform::ReadProfileString(L"Filter", key, L"", 1024, file) == value && right;
    if (firstSeconds == 0) firstSeconds = SecondsSince(readStart);
  }
  const double readSeconds = SecondsSince(readStart);

  const auto sectionStart = Clock::now();
  const std::size_t listed = platform::ReadProfileSection(L"Filter", file).size();
  const double sectionSeconds = SecondsSince(sectionStart);

  // New values, so that the write really replaces the file.
  platform::ProfileEntries changed = expected;
  for (auto& entry : changed) entry.second += L"?v=2";
  const auto writeStart = Clock::now();
  const bool written =
      platform::WriteProfileEntries(L"Filter", changed, file) &&
      platform::ReadProfileString(L"Filter", Key(kKeys), L"", 1024, file) == changed.back().second;
  const double writeSeconds = SecondsSince(writeStart);

  // Every read asks the file system whether the file changed; this is that part alone.
  const auto queryStart = Clock::now();
  for (int i = 0; i < kKeys; ++i) platform::PathQuery(file);
  const double querySeconds = SecondsSince(queryStart);

  std::printf("read %d keys one at a time: %.3f s, of which the first read %.3f s (%s)\n", kKeys,
              readSeconds, firstSeconds, right ? "values right" : "WRONG VALUES");
  std::printf("  for scale: %d file status queries alone: %.3f s\n", kKeys, querySeconds);
  std::printf("read the section whole (%zu lines): %.3f s\n", listed, sectionSeconds);
  std::printf("write %d keys as one section: %.3f s (%s)\n", kKeys, writeSeconds,
              written ? "ok" : "FAILED");

  // Names beyond ASCII: 100,000 sections of one key each, every key read and every section
  // found again by a write of its list.
  const fs::path other = dir / "names.ini";
  {
    std::ofstream out(other, std::ios::binary);
    for (int i = 0; i < 100000; ++i)
      out << "[\xD0\xA4\xD0\xB8\xD0\xBB" << i << "]\r\n\xC3\xA4=" << i << "\r\n";
  }
  const auto otherStart = Clock::now();
  bool otherRight = true;
  for (int i = 0; i < 100000; i += 10) {
    const std::wstring section = L"\u0444\u0438\u043b" + std::to_wstring(i);
    otherRight = platform::ReadProfileString(section, L"\u00c4", L"", 64, other.wstring()) ==
                     std::to_wstring(i) &&
                 otherRight;
  }
  otherRight =
      platform::WriteProfileEntries(L"\u0444\u0438\u043b99999", {{L"k", L"v"}}, other.wstring()) &&
      otherRight;
  std::printf(
      "100,000 sections named beyond ASCII: 10,000 reads and a section write: %.3f s (%s)\n",
      SecondsSince(otherStart), otherRight ? "ok" : "FAILED");
  fs::remove_all(dir);
  return right && written && otherRight && listed == static_cast<std::size_t>(kKeys) ? 0 : 1;
}
