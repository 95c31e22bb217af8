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

  // Why not when the entry is refused or fails; nothing then bears its name.
  Outcome Unpack(const ZipEntry& entry) {
    if (Outcome allowed = Allowed(entry); !allowed) return allowed;
    if (entry.IsDirectory()) return writer_.AddDirectory(entry.name);
    return writer_.AddFile(entry.name, (entry.unixMode & 0111) != 0,
                           [this, &entry](const DataSink& sink) {
                             return ReadEntryData(read_, archiveSize_, entry, sink);
                           });
  }

 private:
  Outcome Allowed(const ZipEntry& entry) {
    if (Outcome named = EntryWriter::NameAllowed(entry.name); !named) return named;
    if (entry.IsEncrypted()) return Outcome::No("encrypted");
    if (!entry.IsDirectory() && entry.method != kZipStored && entry.method != kZipDeflated) {
      return Outcome::No("compression method " + std::to_string(entry.method) +
                         ", not stored or deflate");
    }
    if (!entry.IsDirectory() && (entry.unixMode & 0170000) != 0 &&
        (entry.unixMode & 0170000) != 0100000) {
      return Outcome::No("not a regular file");
    }
    if (!writer_.TakeName(entry.name)) {
      return Outcome::No("differs from an earlier entry only in case");
    }
    return {};
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
  if (Outcome read = ReadZipDirectory(unpacker.Reader(), archiveSize, entries); !read) {
    ReportArchive(archivePath, read.why());
    return kExtractUnreadable;
  }
  if (!MakeDestination(destination)) {
    ReportArchive(archivePath, "cannot make the destination " + platform::ToUtf8(destination));
    return kExtractUnreadable;
  }
  if (Outcome kept =
          LimitPassed(entries.size(), TotalSize(entries), archiveSize, destination, limits);
      !kept) {
    ReportArchive(archivePath, kept.why());
    return kExtractUnreadable;
  }
  bool allUnpacked = true;
  for (const ZipEntry& entry : entries) {
    if (Outcome unpacked = unpacker.Unpack(entry); !unpacked) {
      ReportEntry(entry.name, unpacked.why());
      allUnpacked = false;
    }
  }
  return allUnpacked ? kExtractDone : kExtractEntriesFailed;
}

}  // namespace unpack
