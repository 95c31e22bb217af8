#include "extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "entry_rules.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWriteOptions = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_UNLINK |
                              ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

class ArchiveReader {
 public:
  ArchiveReader() : archive_(archive_read_new()) {
    archive_read_support_filter_all(archive_);
    archive_read_support_format_zip(archive_);
    archive_read_support_format_7zip(archive_);
    archive_read_support_format_tar(archive_);
    archive_read_support_format_rar(archive_);
    archive_read_support_format_rar5(archive_);
  }
  ~ArchiveReader() { archive_read_free(archive_); }
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  archive* Get() const { return archive_; }

 private:
  archive* archive_;
};

class DiskWriter {
 public:
  DiskWriter() : archive_(archive_write_disk_new()) {
    archive_write_disk_set_options(archive_, kWriteOptions);
  }
  ~DiskWriter() { archive_write_free(archive_); }
  DiskWriter(const DiskWriter&) = delete;
  DiskWriter& operator=(const DiskWriter&) = delete;

  archive* Get() const { return archive_; }

 private:
  archive* archive_;
};

std::string Text(const char* text) { return text != nullptr ? text : ""; }

void Report(const std::string& entry, const std::string& why) {
  std::fprintf(stderr, "extractor: skipped \"%s\": %s\n", entry.c_str(), why.c_str());
}

std::optional<std::string> EntryRefusal(archive_entry* entry) {
  const auto type = archive_entry_filetype(entry);
  const std::string hardlink = Text(archive_entry_hardlink(entry));
  if (hardlink.empty() && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
    return "not a file, directory or link";
  }
  const std::string link = type == AE_IFLNK ? Text(archive_entry_symlink(entry)) : "";
  if (type == AE_IFLNK && link.empty()) return "link without a target";
  return RefusalReason(Text(archive_entry_pathname(entry)), link, hardlink);
}

bool CopyData(archive* reader, archive* writer) {
  const void* block = nullptr;
  std::size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    const int status = archive_read_data_block(reader, &block, &size, &offset);
    if (status == ARCHIVE_EOF) return true;
    if (status < ARCHIVE_WARN) return false;
    if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) return false;
  }
}

// Writes one entry; false with the reason on standard error when it failed.
bool WriteEntry(archive* reader, archive* writer, archive_entry* entry) {
  const std::string name = Text(archive_entry_pathname(entry));
  if (archive_write_header(writer, entry) < ARCHIVE_WARN) {
    Report(name, Text(archive_error_string(writer)));
    return false;
  }
  const bool copied = CopyData(reader, writer);
  if (!copied)
    Report(name, Text(archive_error_string(reader)) + Text(archive_error_string(writer)));
  return archive_write_finish_entry(writer) >= ARCHIVE_WARN && copied;
}

}  // namespace

ExtractStatus ExtractArchive(const std::string& archivePath, const std::string& destination) {
  ArchiveReader reader;
  if (archive_read_open_filename(reader.Get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) {
    std::fprintf(stderr, "extractor: cannot open \"%s\": %s\n", archivePath.c_str(),
                 Text(archive_error_string(reader.Get())).c_str());
    return kExtractUnreadable;
  }
  std::error_code ignored;  // a destination that cannot be made is reported by chdir
  fs::create_directories(destination, ignored);
  // Entries are written relative to the destination, so that libarchive's own refusal of
  // absolute paths stays in force.
  if (chdir(destination.c_str()) != 0) {
    std::fprintf(stderr, "extractor: cannot enter \"%s\"\n", destination.c_str());
    return kExtractUnreadable;
  }
  DiskWriter writer;
  bool allWritten = true;
  archive_entry* entry = nullptr;
  int status = ARCHIVE_OK;
  while ((status = archive_read_next_header(reader.Get(), &entry)) == ARCHIVE_OK ||
         status == ARCHIVE_WARN) {
    if (const auto refusal = EntryRefusal(entry)) {
      Report(Text(archive_entry_pathname(entry)), *refusal);
      allWritten = false;
    } else if (!WriteEntry(reader.Get(), writer.Get(), entry)) {
      allWritten = false;
    }
  }
  if (status != ARCHIVE_EOF) {
    std::fprintf(stderr, "extractor: cannot read \"%s\": %s\n", archivePath.c_str(),
                 Text(archive_error_string(reader.Get())).c_str());
    return kExtractUnreadable;
  }
  if (archive_write_close(writer.Get()) < ARCHIVE_WARN) allWritten = false;
  return allWritten ? kExtractDone : kExtractEntriesFailed;
}
