// Writing a package's entries below a destination, the same for every archive format: the
// rules an entry's name must keep, the limits a whole archive must keep (checked before
// anything is written), and each file written under a scratch name made new, which takes
// the entry's name only once its data is whole.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/outcome.h"

namespace unpack {

struct UnpackLimits {
  std::uint64_t maxEntries = 200000;
  std::uint64_t maxTotalSize = 16ull << 30;  // what all entries unpack to
  // What all entries may unpack to for each byte of the archive, beyond the first
  // ratioAllowance bytes, which any archive may unpack to.
  std::uint64_t maxExpansion = 100;
  std::uint64_t ratioAllowance = 64ull << 20;
  std::uint64_t spareSpace = 64ull << 20;  // left free on the destination's volume

  // What the entries of an archive of archiveSize bytes may unpack to in all.
  std::uint64_t AllowedTotal(std::uint64_t archiveSize) const;
};

// Why an archive of archiveSize bytes whose entryCount entries unpack to totalSize bytes is
// refused whole; ok when it keeps every limit (the destination's free space included).
Outcome LimitPassed(std::uint64_t entryCount, std::uint64_t totalSize, std::uint64_t archiveSize,
                    const std::wstring& destination, const UnpackLimits& limits);

// Opens the archive at path and tells its size; false, with the line on standard error, when
// it cannot be opened.
bool OpenArchive(const std::wstring& path, platform::FileReader& archive, std::uint64_t& size);

// Makes the destination (ending with a separator) and its missing parents; false when it is
// then no directory.
bool MakeDestination(const std::wstring& destination);

// The lines on standard error for a refused or failed entry, and for an archive refused whole.
void ReportEntry(const std::string& entry, const std::string& why);
void ReportArchive(const std::wstring& archive, const std::string& why);

// Receives an entry's data piece by piece; false stops the copy.
using DataSink = std::function<bool(const char* data, std::size_t size)>;
// Hands an entry's data to the sink; why not when the data fails or the sink refuses it.
using DataSource = std::function<Outcome(const DataSink& sink)>;

class EntryWriter {
 public:
  explicit EntryWriter(std::wstring destination) : destination_(std::move(destination)) {}

  // Whether the entry of this '/'-separated UTF-8 name (a directory's may end with '/') keeps
  // the name rules of every format (entry_rules.h, and the writer's own scratch name); why
  // not when it does not.
  static Outcome NameAllowed(const std::string& name);
  // Takes the name for an entry about to be written; false when an earlier entry took one
  // that Windows finds as the same file (it differs only in case).
  bool TakeName(const std::string& name);

  // Makes the directory of a directory entry, and its parents; why not when it cannot.
  Outcome AddDirectory(const std::string& name);
  // Writes a file entry: its parents made, its data from source written into a scratch file
  // made new (never through a link), marked executable when asked, then renamed to the
  // entry's name. Why not when any step fails; nothing then bears the name.
  Outcome AddFile(const std::string& name, bool executable, const DataSource& source);

 private:
  std::wstring Place(const std::string& name) const;
  Outcome MakeParents(const std::string& name);
  Outcome MakeDirectory(const std::string& relative);

  std::wstring destination_;
  std::set<std::wstring> names_;
  std::set<std::string> made_;
};

}  // namespace unpack
