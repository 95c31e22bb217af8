// The central directory of a zip archive: where each entry's data lies and what it should
// unpack to. Only what the directory says is trusted for sizes and checksums; a local header
// is read only to find where the data starts (zip_extract.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "entry_writer.h"
#include "platform/files.h"

namespace unpack {

// Reads size bytes at offset into data; false unless all of them could be read.
using ReadAt = std::function<bool(std::uint64_t offset, char* data, std::size_t size)>;

// A ReadAt of an open file, which must outlive it.
ReadAt ReaderOf(platform::FileReader& file);

struct ZipEntry {
  std::string name;  // UTF-8, as stored (legacy names converted from code page 437)
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localHeaderOffset = 0;
  std::uint32_t unixMode = 0;  // from the external attributes when made on Unix, else 0

  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
  bool IsEncrypted() const { return (flags & 1) != 0; }
};

// The entries in directory order, or why not when archiveSize bytes
// read through read are no zip archive or its directory is damaged: no end record, a
// directory that lies outside the archive or does not hold the entries it counts, a Zip64
// record that is missing or out of place, a name that is not UTF-8 where the entry says it
// is. An archive of no entries is a zip archive.
Outcome ReadZipDirectory(const ReadAt& read, std::uint64_t archiveSize,
                         std::vector<ZipEntry>& entries);

// Whether the bytes at the end of an archive of archiveSize bytes hold a zip end record: the
// archive is then read as zip, and only as zip.
bool LooksLikeZip(const ReadAt& read, std::uint64_t archiveSize);

// Where an entry's data starts: after its local header, whose name and extra field lengths
// are its own. Why not when the local header is not there or names another entry.
Outcome FindEntryData(const ReadAt& read, std::uint64_t archiveSize, const ZipEntry& entry,
                      std::uint64_t& dataOffset);

inline constexpr std::uint16_t kZipStored = 0;
inline constexpr std::uint16_t kZipDeflated = 8;

// Hands the unpacked bytes of a stored or deflated entry to sink, checking them against the
// directory as they pass: never more than its size, and at the end its size and CRC-32.
// Why not when the local header is not the entry's, the data is
// cut short or damaged, a check fails or sink refused; what sink took then is worth nothing.
Outcome ReadEntryData(const ReadAt& read, std::uint64_t archiveSize, const ZipEntry& entry,
                      const DataSink& sink);

}  // namespace unpack
