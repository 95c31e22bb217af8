#include "zip_extract.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "entry_writer.h"
#include "platform/files.h"
#include "platform/text.h"
#include "zip_directory.h"

namespace unpack {
namespace {

class Unpacker {
 public:
  Unpacker(platform::FileReader& archive, std::uint64_t archiveSize, std::wstring destination)
      : read_(ReaderOf(archive)), archiveSize_(archiveSize), writer_(std::move(destination)) {}

  const ReadAt& Reader() const { return read_; }

  // False, with the reason, when the entry is refused or fails; nothing then bears its name.
  bool Unpack(const ZipEntry& entry, std::string& why) {
    if (const auto refusal = Refusal(entry)) {
      why = *refusal;
      return false;
    }
    if (entry.IsDirectory()) return writer_.AddDirectory(entry.name, why);
    return writer_.AddFile(
        entry.name, (entry.unixMode & 0111) != 0,
        [this, &entry](const DataSink& sink, std::string& problem) {
          return ReadEntryData(read_, archiveSize_, entry, sink, problem);
        },
        why);
  }

 private:
  std::optional<std::string> Refusal(const ZipEntry& entry) {
    if (auto refusal = EntryWriter::NameRefusal(entry.name)) return refusal;
    if (entry.IsEncrypted()) return "encrypted";
    if (!entry.IsDirectory() && entry.method != kZipStored && entry.method != kZipDeflated) {
      return "compression method " + std::to_string(entry.method) + ", not stored or deflate";
    }
    if (!entry.IsDirectory() && (entry.unixMode & 0170000) != 0 &&
        (entry.unixMode & 0170000) != 0100000) {
      return "not a regular file";
    }
    if (!writer_.TakeName(entry.name)) return "differs from an earlier entry only in case";
    return std::nullopt;
  }

  ReadAt read_;
  std::uint64_t archiveSize_;
  EntryWriter writer_;
};

// What the entries unpack to by the directory, saturating rather than wrapping.
std::uint64_t TotalSize(const std::vector<ZipEntry>& entries) {
  std::uint64_t total = 0;
  for (const ZipEntry& entry : entries) total += std::min(entry.size, UINT64_MAX - total);
  return total;
}

}  // namespace

ExtractStatus UnpackZip(const std::wstring& archivePath, const std::wstring& destination,
                        const UnpackLimits& limits) {
  platform::FileReader archive;
  std::uint64_t archiveSize = 0;
  if (!OpenArchive(archivePath, archive, archiveSize)) return kExtractUnreadable;
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
  problem = LimitPassed(entries.size(), TotalSize(entries), archiveSize, destination, limits);
  if (!problem.empty()) {
    ReportArchive(archivePath, problem);
    return kExtractUnreadable;
  }
  bool allUnpacked = true;
  for (const ZipEntry& entry : entries) {
    std::string why;
    if (!unpacker.Unpack(entry, why)) {
      ReportEntry(entry.name, why);
      allUnpacked = false;
    }
  }
  return allUnpacked ? kExtractDone : kExtractEntriesFailed;
}

}  // namespace unpack
