#include "zip_extract.h"

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "entry_rules.h"
#include "platform/console.h"
#include "platform/disk_space.h"
#include "platform/file_writer.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"
#include "zip_directory.h"

namespace unpack {
namespace {

// Where each file is written until its checks pass; an entry may not take this name.
constexpr wchar_t kScratchName[] = L"~unpack.partial";

void Report(const std::string& entry, const std::string& why) {
  platform::WriteErr(L"extractor: skipped \"" + platform::FromUtf8(entry) + L"\": " +
                     platform::FromUtf8(why) + L"\n");
}

void ReportArchive(const std::wstring& archive, const std::string& why) {
  platform::WriteErr(L"extractor: cannot read \"" + archive + L"\": " + platform::FromUtf8(why) +
                     L"\n");
}

class Unpacker {
 public:
  Unpacker(platform::FileReader& archive, std::uint64_t archiveSize, std::wstring destination)
      : read_(ReaderOf(archive)), archiveSize_(archiveSize), destination_(std::move(destination)) {}

  const ReadAt& Reader() const { return read_; }

  // False, with the reason, when the entry is refused or fails; nothing then bears its name.
  bool Unpack(const ZipEntry& entry, std::string& why) {
    if (const auto refusal = Refusal(entry)) {
      why = *refusal;
      return false;
    }
    const std::wstring target = Place(entry.name);
    if (!MakeDirectories(entry.name, why)) return false;
    if (entry.IsDirectory()) return true;
    const std::wstring scratch = platform::LongPathForm(destination_ + kScratchName);
    const bool written =
        WriteData(entry, scratch, why) &&
        ((entry.unixMode & 0111) == 0 || Done(platform::MarkExecutable(scratch), why)) &&
        Done(platform::MovePath(scratch, target), why);
    if (!written) platform::RemoveFile(scratch);
    return written;
  }

 private:
  std::optional<std::string> Refusal(const ZipEntry& entry) {
    const std::string path =
        entry.IsDirectory() ? entry.name.substr(0, entry.name.size() - 1) : entry.name;
    if (auto refusal = RefusalReason(path, "", "")) return refusal;
    if (platform::FromUtf8(path.substr(0, path.find('/'))) == kScratchName) {
      return "the extractor's own working name";
    }
    if (entry.IsEncrypted()) return "encrypted";
    if (!entry.IsDirectory() && entry.method != kZipStored && entry.method != kZipDeflated) {
      return "compression method " + std::to_string(entry.method) + ", not stored or deflate";
    }
    if (!entry.IsDirectory() && (entry.unixMode & 0170000) != 0 &&
        (entry.unixMode & 0170000) != 0100000) {
      return "not a regular file";
    }
    // Windows holds names apart without regard to case: so do we, on every build.
    if (!names_.insert(NameKey(entry.name)).second) {
      return "differs from an earlier entry only in case";
    }
    return std::nullopt;
  }

  static bool Done(const platform::FileResult& result, std::string& why) {
    if (!result.ok()) why = result.Describe();
    return result.ok();
  }

  std::wstring Place(const std::string& name) const {
    std::wstring relative = platform::NativePath(platform::FromUtf8(name));
    if (!relative.empty() && relative.back() == platform::kSep) relative.pop_back();
    return platform::LongPathForm(destination_ + relative);
  }

  // Every directory before a '/' of the entry's name below the destination: its parents, and
  // a directory entry (whose name ends with '/') itself.
  bool MakeDirectories(const std::string& name, std::string& why) {
    for (std::size_t sep = name.find('/'); sep != std::string::npos;
         sep = name.find('/', sep + 1)) {
      if (!MakeDirectory(name.substr(0, sep), why)) return false;
    }
    return true;
  }

  bool MakeDirectory(const std::string& relative, std::string& why) {
    if (relative.empty() || made_.count(relative) != 0) return true;
    const std::wstring path = Place(relative);
    const platform::FileResult result = platform::MakeDirectory(path);
    if (!result && platform::QueryPath(path).kind != platform::PathKind::Directory) {
      return Done(result, why);
    }
    made_.insert(relative);
    return true;
  }

  bool WriteData(const ZipEntry& entry, const std::wstring& scratch, std::string& why) {
    platform::FileWriter out;
    if (!out.Create(scratch)) {
      why = "cannot create " + platform::ToUtf8(scratch);
      return false;
    }
    const bool read = ReadEntryData(
        Reader(), archiveSize_, entry,
        [&out](const char* data, std::size_t n) { return out.Write(data, n); }, why);
    if (!out.Close() && read) why = "cannot write " + platform::ToUtf8(scratch);
    return read && why.empty();
  }

  ReadAt read_;
  std::uint64_t archiveSize_;
  std::wstring destination_;
  std::set<std::wstring> names_;
  std::set<std::string> made_;
};

// Why the archive as a whole is refused before anything is written, or "".
std::string LimitPassed(const std::vector<ZipEntry>& entries, std::uint64_t archiveSize,
                        const std::wstring& destination, const UnpackLimits& limits) {
  if (entries.size() > limits.maxEntries) {
    return std::to_string(entries.size()) + " entries, more than " +
           std::to_string(limits.maxEntries);
  }
  std::uint64_t total = 0;
  for (const ZipEntry& entry : entries) {
    if (entry.size > limits.maxTotalSize - total) {
      return "unpacks to more than " + std::to_string(limits.maxTotalSize >> 20) + " MiB";
    }
    total += entry.size;
  }
  const std::uint64_t allowed =
      archiveSize > (limits.maxTotalSize - limits.ratioAllowance) / limits.maxExpansion
          ? limits.maxTotalSize
          : limits.ratioAllowance + archiveSize * limits.maxExpansion;
  if (total > allowed) {
    return "unpacks to " + std::to_string(total) + " bytes from " + std::to_string(archiveSize) +
           ", more than " + std::to_string(limits.maxExpansion) + " times its size";
  }
  const auto free = platform::FreeDiskBytes(destination);
  if (free && total > *free - std::min(*free, limits.spareSpace)) {
    return "needs " + std::to_string(total >> 20) +
           " MiB, more than the destination's volume has free";
  }
  return "";
}

// Makes the destination and its missing parents.
bool MakeDestination(const std::wstring& destination) {
  for (std::size_t i = 1; i < destination.size(); ++i) {
    if (destination[i] != platform::kSep) continue;
    const std::wstring dir = destination.substr(0, i);
    if (platform::QueryPath(dir).kind == platform::PathKind::Missing) platform::MakeDirectory(dir);
  }
  return platform::QueryPath(destination.substr(0, destination.size() - 1)).kind ==
         platform::PathKind::Directory;
}

}  // namespace

ExtractStatus UnpackZip(const std::wstring& archivePath, const std::wstring& destination,
                        const UnpackLimits& limits) {
  platform::FileReader archive;
  std::uint64_t archiveSize = 0;
  if (!archive.Open(archivePath) || !archive.Size(archiveSize)) {
    ReportArchive(archivePath, "cannot open it");
    return kExtractUnreadable;
  }
  Unpacker unpacker(archive, archiveSize, destination);
  std::vector<ZipEntry> entries;
  std::string problem;
  if (!ReadZipDirectory(unpacker.Reader(), archiveSize, entries, problem)) {
    ReportArchive(archivePath, problem);
    return kExtractUnreadable;
  }
  if (!MakeDestination(destination)) {
    ReportArchive(archivePath, "cannot make the destination " + platform::ToUtf8(destination));
    return kExtractUnreadable;
  }
  problem = LimitPassed(entries, archiveSize, destination, limits);
  if (!problem.empty()) {
    ReportArchive(archivePath, problem);
    return kExtractUnreadable;
  }
  bool allUnpacked = true;
  for (const ZipEntry& entry : entries) {
    std::string why;
    if (!unpacker.Unpack(entry, why)) {
      Report(entry.name, why);
      allUnpacked = false;
    }
  }
  return allUnpacked ? kExtractDone : kExtractEntriesFailed;
}

}  // namespace unpack
