// Prints how long merging the six filter lists takes as the lists grow. Each list of the
// package and of the user holds n entries, and half of the user's entries are also in the
// package's list, so every merged list ends with 1.5 n entries.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/filters/filter_combiner.h"
#include "agent/filters/numbered_list.h"
#include "platform/entry.h"
#include "platform/profile.h"
#include "platform/test_support.h"

namespace {

struct ListPlace {
  const char* packageFile;
  const char* userFile;
  const char* section;
  const char* keyPrefix;
};

constexpr ListPlace kLists[] = {
    {"2Filter.ini", "Filter.ini", "UrlFilter", "url"},
    {"2Filter.ini", "Filter.ini", "UrlUnFilter", "url"},
    {"2Filter.ini", "Filter.ini", "PopFilter", "pop"},
    {"2Filter.ini", "Filter.ini", "PopUnFilter", "pop"},
    {"FilterFly.ini", "FilterFly.ini", "FlyFilter", "url"},
    {"2FilterFly.ini", "FilterFly.ini", "FlyUnFilter", "url"},
};

// The section text of entries first .. first + n - 1.
std::string SectionText(const ListPlace& list, std::size_t first, std::size_t n) {
  std::string text = std::string("[") + list.section + "]\r\n";
  for (std::size_t i = 1; i <= n; ++i) {
    text += list.keyPrefix + std::to_string(i) + "=||ads" + std::to_string(first + i) +
            ".example.com/banner/*^$third-party\r\n";
  }
  return text;
}

bool WriteFiles(const std::wstring& userDir, const std::wstring& packageDir, std::size_t n) {
  std::string files[2][3];  // [user, package][Filter.ini, FilterFly.ini, 2FilterFly.ini]
  for (const ListPlace& list : kLists) {
    const std::string name = list.packageFile;
    const int slot = name == "FilterFly.ini" ? 1 : name == "2FilterFly.ini" ? 2 : 0;
    files[1][slot] += SectionText(list, 0, n);
    files[0][std::string(list.userFile) == "Filter.ini" ? 0 : 1] += SectionText(list, n / 2, n);
  }
  return platform::WriteWholeFile(userDir + L"Filter.ini", files[0][0]) &&
         platform::WriteWholeFile(userDir + L"FilterFly.ini", files[0][1]) &&
         platform::WriteWholeFile(packageDir + L"2Filter.ini", files[1][0]) &&
         platform::WriteWholeFile(packageDir + L"FilterFly.ini", files[1][1]) &&
         platform::WriteWholeFile(packageDir + L"2FilterFly.ini", files[1][2]);
}

// The entries of every merged list; each should hold 1.5 n.
bool MergedAsExpected(const std::wstring& userDir, std::size_t n) {
  for (const ListPlace& list : kLists) {
    const std::wstring section = platform::FromUtf8(list.section);
    const std::wstring path = userDir + platform::FromUtf8(list.userFile);
    const auto entries = NumberedListFromSection(platform::ReadProfileSection(section, path),
                                                 platform::FromUtf8(list.keyPrefix));
    if (entries.size() != n + n / 2) return false;
  }
  return true;
}

bool Measure(std::size_t n) {
  platform::ScopedTempDir user;
  platform::ScopedTempDir package;
  if (user.path().empty() || package.path().empty() || !WriteFiles(user.path(), package.path(), n))
    return false;
  const auto start = std::chrono::steady_clock::now();
  CFilterCombiner(user.path(), package.path()).CombineAll();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!MergedAsExpected(user.path(), n)) return false;
  std::printf("%8zu %12.3f %14.3f\n", n, took.count(), took.count() * 1e6 / (6.0 * n));
  return true;
}

}  // namespace

// Arguments, when given, are the list sizes to measure.
int main(int argc, char** argv) {
  platform::KeepFreedMemoryForReuse();  // as the agent's entry does
  std::vector<std::size_t> sizes = {1000, 10000, 50000};
  if (argc > 1) sizes.clear();
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  std::printf("six lists, package and user half overlapping\n");
  std::printf("%8s %12s %14s\n", "entries", "merge (s)", "per entry (us)");
  for (const std::size_t n : sizes) {
    if (!Measure(n)) {
      std::printf("%8zu failed: the merged lists are not as expected\n", n);
      return 1;
    }
  }
  return 0;
}
