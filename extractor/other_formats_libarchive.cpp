#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <optional>
#include <vector>

#include "other_formats.h"
#include "platform/files.h"
#include "platform/text.h"

namespace unpack {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

// One reading of the archive, from its first entry on. Only formats and filters read in this
// process: no filter that would start another program.
class ArchiveReader {
 public:
  ArchiveReader() : archive_(archive_read_new()) {
    archive_read_support_filter_gzip(archive_);
    archive_read_support_filter_bzip2(archive_);
    archive_read_support_filter_xz(archive_);
    archive_read_support_filter_zstd(archive_);
    archive_read_support_format_7zip(archive_);
    archive_read_support_format_tar(archive_);
    archive_read_support_format_rar(archive_);
    archive_read_support_format_rar5(archive_);
  }
  ~ArchiveReader() { archive_read_free(archive_); }
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  bool Open(const std::wstring& path) {
    return archive_read_open_filename(archive_, platform::ToUtf8(path).c_str(), 64 * 1024) ==
           ARCHIVE_OK;
  }
  // The next entry's header, or null at the end or on an error (Failed() tells which).
  archive_entry* Next() {
    archive_entry* entry = nullptr;
    status_ = archive_read_next_header(archive_, &entry);
    return status_ == ARCHIVE_OK || status_ == ARCHIVE_WARN ? entry : nullptr;
  }
  bool Failed() const { return status_ != ARCHIVE_EOF; }
  std::string Error() const {
    const char* text = archive_error_string(archive_);
    return text != nullptr ? text : "not an archive of a known format";
  }
  // The current entry's data piece by piece into sink, counted in got, stopping once got
  // passes most; why not when the data cannot be read or sink refuses it.
  Outcome ReadData(std::uint64_t most, const DataSink& sink, std::uint64_t& got) {
    got = 0;
    for (;;) {
      const la_ssize_t n = archive_read_data(archive_, buffer_.get(), kChunk);
      if (n == 0) return {};
      if (n < 0) return Outcome::No(Error());
      got += static_cast<std::uint64_t>(n);
      if (got > most) return {};
      if (!sink(buffer_.get(), static_cast<std::size_t>(n))) {
        return Outcome::No("its bytes could not be written");
      }
    }
  }

 private:
  archive* archive_;
  int status_ = ARCHIVE_OK;
  std::unique_ptr<char[]> buffer_{new char[kChunk]};  // filled before it is read
};

// What the first reading learnt of an entry.
struct Surveyed {
  std::string name;
  Outcome allowed;  // why the entry is refused
  bool directory = false;
  bool executable = false;
  std::uint64_t size = 0;  // what its data unpacked to
};

// The rules the zip reader holds its entries to that the header alone tells: plain files and
// directories only (no link of either kind, no device), nothing encrypted.
Outcome KindAllowed(archive_entry* entry) {
  const auto type = archive_entry_filetype(entry);
  if (archive_entry_hardlink(entry) != nullptr || (type != AE_IFREG && type != AE_IFDIR)) {
    return Outcome::No("not a regular file");
  }
  if (archive_entry_is_encrypted(entry)) return Outcome::No("encrypted");
  return {};
}

std::string NameOf(archive_entry* entry) {
  const char* utf8 = archive_entry_pathname_utf8(entry);
  const char* raw = archive_entry_pathname(entry);
  return utf8 != nullptr ? utf8 : raw != nullptr ? raw : "";
}

// Reads the whole archive once, writing nothing: every entry's name, verdict and unpacked
// size. Ok when it could be read and keeps the limits; otherwise why it is refused whole.
Outcome Survey(const std::wstring& archivePath, std::uint64_t archiveSize,
               const std::wstring& destination, const UnpackLimits& limits,
               std::vector<Surveyed>& entries) {
  ArchiveReader reader;
  if (!reader.Open(archivePath)) return Outcome::No(reader.Error());
  EntryWriter names(destination);
  const std::uint64_t allowed = std::min(limits.maxTotalSize, limits.AllowedTotal(archiveSize));
  std::uint64_t total = 0;
  while (archive_entry* entry = reader.Next()) {
    if (entries.size() == limits.maxEntries)
      return LimitPassed(entries.size() + 1, 0, 0, L"", limits);
    Surveyed surveyed;
    surveyed.name = NameOf(entry);
    surveyed.directory = archive_entry_filetype(entry) == AE_IFDIR;
    surveyed.executable = (archive_entry_perm(entry) & 0111) != 0;
    surveyed.allowed = EntryWriter::NameAllowed(surveyed.name);
    if (surveyed.allowed) surveyed.allowed = KindAllowed(entry);
    if (surveyed.allowed && !names.TakeName(surveyed.name)) {
      surveyed.allowed = Outcome::No("differs from an earlier entry only in case");
    }
    if (surveyed.allowed && !surveyed.directory) {
      // Counted, not kept: a bomb stops here, once it passes what the archive may unpack to.
      if (Outcome read = reader.ReadData(
              allowed - total, [](const char*, std::size_t) { return true; }, surveyed.size);
          !read) {
        return read;
      }
      total += surveyed.size;
      if (total > allowed) return LimitPassed(0, total, archiveSize, destination, limits);
    }
    entries.push_back(std::move(surveyed));
  }
  if (reader.Failed()) return Outcome::No(reader.Error());
  return LimitPassed(entries.size(), total, archiveSize, destination, limits);
}

// Writes the entry the second reading is at (entry, nullptr when there is none) as the first
// reading surveyed it; why not when it was refused then or reads otherwise now.
Outcome UnpackSurveyed(const Surveyed& surveyed, archive_entry* entry, ArchiveReader& reader,
                       EntryWriter& writer) {
  const Outcome otherwise = Outcome::No("the archive reads otherwise than at first");
  if (!surveyed.allowed) return surveyed.allowed;
  if (entry == nullptr || NameOf(entry) != surveyed.name || !writer.TakeName(surveyed.name)) {
    return otherwise;
  }
  if (surveyed.directory) return writer.AddDirectory(surveyed.name);
  return writer.AddFile(surveyed.name, surveyed.executable,
                        [&reader, &surveyed, &otherwise](const DataSink& sink) {
                          std::uint64_t got = 0;
                          Outcome read = reader.ReadData(surveyed.size, sink, got);
                          return read && got != surveyed.size ? otherwise : read;
                        });
}

}  // namespace

ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring& destination,
                                const UnpackLimits& limits) {
  platform::FileReader archive;
  std::uint64_t archiveSize = 0;
  if (!OpenArchive(archivePath, archive, archiveSize)) return kExtractUnreadable;
  std::vector<Surveyed> entries;
  if (Outcome surveyed = Survey(archivePath, archiveSize, destination, limits, entries);
      !surveyed) {
    ReportArchive(archivePath, surveyed.why());
    return kExtractUnreadable;
  }
  if (!MakeDestination(destination)) {
    ReportArchive(archivePath, "cannot make the destination " + platform::ToUtf8(destination));
    return kExtractUnreadable;
  }
  // The second reading writes what the first accepted; an archive that reads otherwise now
  // (changed in between) fails entry by entry, never past what the first reading counted.
  ArchiveReader reader;
  EntryWriter writer(destination);
  const bool opened = reader.Open(archivePath);
  bool allUnpacked = true;
  for (const Surveyed& surveyed : entries) {
    archive_entry* entry = opened ? reader.Next() : nullptr;
    const Outcome unpacked = UnpackSurveyed(surveyed, entry, reader, writer);
    if (!unpacked) {
      ReportEntry(surveyed.name, unpacked.why());
      allUnpacked = false;
    }
  }
  return allUnpacked ? kExtractDone : kExtractEntriesFailed;
}

}  // namespace unpack
