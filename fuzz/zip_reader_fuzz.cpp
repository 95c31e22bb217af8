// Zip archives as a server or an attacker may send them, read by our reader (the one every
// build's extractor unpacks zip with) and by libarchive's directory-based zip reader: where
// both read an entry of one name and size whole, they agree on every byte, and ours never hands out
// bytes its directory's size and CRC-32 do not vouch for.
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "zip_directory.h"

namespace {

constexpr std::size_t kMaxEntryBytes = 1 << 20;  // an entry larger is not compared

// Entries libarchive reads whole, by name (ASCII names only: it converts others by locale).
std::map<std::string, std::string> ReadWithLibarchive(const std::uint8_t* data, std::size_t size) {
  std::map<std::string, std::string> read;
  archive* reader = archive_read_new();
  archive_read_support_format_zip_seekable(reader);
  if (archive_read_open_memory(reader, data, size) == ARCHIVE_OK) {
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
      const char* name = archive_entry_pathname(entry);
      std::string bytes;
      char buffer[8192];
      la_ssize_t n = 0;
      while ((n = archive_read_data(reader, buffer, sizeof buffer)) > 0 &&
             bytes.size() <= kMaxEntryBytes) {
        bytes.append(buffer, static_cast<std::size_t>(n));
      }
      // Read whole: to its end, and as many bytes as the entry says it holds.
      const bool whole = n == 0 && archive_entry_size_is_set(entry) != 0 &&
                         static_cast<std::size_t>(archive_entry_size(entry)) == bytes.size();
      if (whole && name != nullptr) read.emplace(name, bytes);
    }
  }
  archive_read_free(reader);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const unpack::ReadAt read = [data, size](std::uint64_t offset, char* out, std::size_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(out, data + offset, n);
    return true;
  };
  std::vector<unpack::ZipEntry> entries;
  if (const Outcome read1 = unpack::ReadZipDirectory(read, size, entries); !read1) {
    fuzz::Require(!read1.why().empty(), "a refused archive says why");
    return 0;
  }
  const std::map<std::string, std::string> theirs = ReadWithLibarchive(data, size);
  for (const unpack::ZipEntry& entry : entries) {
    if (entry.IsDirectory() || entry.IsEncrypted() || entry.size > kMaxEntryBytes ||
        (entry.method != unpack::kZipStored && entry.method != unpack::kZipDeflated)) {
      continue;
    }
    std::string ours;
    const Outcome whole =
        unpack::ReadEntryData(read, size, entry, [&ours](const char* bytes, std::size_t n) {
          ours.append(bytes, n);
          return true;
        });
    if (!whole) {
      fuzz::Require(!whole.why().empty(), "a refused entry says why");
      continue;
    }
    fuzz::Require(ours.size() == entry.size, "an entry read whole has its directory's size");
    bool ascii = true;
    for (const char c : entry.name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    const auto found = theirs.find(entry.name);
    // libarchive is no perfect judge of a damaged archive (it may take a neighbour's size):
    // compared is what both take for the same entry, its name and size.
    if (ascii && found != theirs.end() && found->second.size() == entry.size &&
        std::count_if(entries.begin(), entries.end(),
                      [&entry](const unpack::ZipEntry& e) { return e.name == entry.name; }) == 1) {
      if (found->second != ours) {
        std::fprintf(stderr, "entry \"%s\": ours %zu bytes, libarchive's %zu\n", entry.name.c_str(),
                     ours.size(), found->second.size());
      }
      fuzz::Require(found->second == ours, "both readers give an entry the same bytes");
    }
  }
  return 0;
}
