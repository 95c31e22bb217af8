#include "zip_directory.h"

#include <algorithm>

#include "platform/text.h"

namespace unpack {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kDirectoryHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint64_t kMaxDirectorySize = 256ull << 20;  // a million long names
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kUtf8NameFlag = 1 << 11;
constexpr unsigned kUnixHost = 3;

// Code page 437, which zip names without the UTF-8 flag are written in, from 0x80 on.
constexpr wchar_t kCodePage437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// Little-endian fields of a record held in memory; reads past its end give 0.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t At(std::size_t offset, std::size_t width) const {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
      const std::size_t at = offset + i;
      value = (value << 8) | (at < bytes_.size() ? static_cast<unsigned char>(bytes_[at]) : 0u);
    }
    return value;
  }
  std::uint16_t U16(std::size_t offset) const { return static_cast<std::uint16_t>(At(offset, 2)); }
  std::uint32_t U32(std::size_t offset) const { return static_cast<std::uint32_t>(At(offset, 4)); }
  std::uint64_t U64(std::size_t offset) const { return At(offset, 8); }

 private:
  std::string_view bytes_;
};

bool ReadBytes(const ReadAt& read, std::uint64_t offset, std::size_t size, std::string& bytes) {
  bytes.resize(size);
  return size == 0 || read(offset, bytes.data(), size);
}

std::string NameFromCodePage437(std::string_view raw) {
  std::wstring wide;
  for (const char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    wide += byte < 0x80 ? static_cast<wchar_t>(byte) : kCodePage437High[byte - 0x80];
  }
  return platform::ToUtf8(wide);
}

bool IsUtf8(std::string_view text) { return platform::ToUtf8(platform::FromUtf8(text)) == text; }

// The position of the end record: the last one whose comment reaches exactly to the end.
bool FindEnd(const ReadAt& read, std::uint64_t archiveSize, std::uint64_t& endOffset) {
  if (archiveSize < kEndSize) return false;
  const std::uint64_t span = std::min<std::uint64_t>(archiveSize, kEndSize + kMaxCommentSize);
  std::string tail;
  if (!ReadBytes(read, archiveSize - span, static_cast<std::size_t>(span), tail)) return false;
  const Fields fields(tail);
  for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
    if (fields.U32(at) == kEndSignature && at + kEndSize + fields.U16(at + 20) == tail.size()) {
      endOffset = archiveSize - span + at;
      return true;
    }
  }
  return false;
}

struct DirectorySpan {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::uint64_t limit = 0;  // where the records after the directory begin
};

Outcome ReadZip64End(const ReadAt& read, std::uint64_t endOffset, DirectorySpan& span) {
  std::string bytes;
  if (endOffset < kLocatorSize || !ReadBytes(read, endOffset - kLocatorSize, kLocatorSize, bytes) ||
      Fields(bytes).U32(0) != kZip64LocatorSignature) {
    return Outcome::No("the Zip64 end record is missing");
  }
  const std::uint64_t recordOffset = Fields(bytes).U64(8);
  if (Fields(bytes).U32(16) > 1 || recordOffset > endOffset - kLocatorSize - kZip64EndSize ||
      !ReadBytes(read, recordOffset, kZip64EndSize, bytes)) {
    return Outcome::No("the Zip64 end record lies outside the archive");
  }
  const Fields record(bytes);
  if (record.U32(0) != kZip64EndSignature || record.U32(16) != 0 || record.U32(20) != 0) {
    return Outcome::No("the Zip64 end record is damaged or spans several disks");
  }
  span = {record.U64(32), record.U64(40), record.U64(48), recordOffset};
  if (record.U64(24) != span.entries) return Outcome::No("the archive spans several disks");
  return {};
}

// Replaces the saturated fields of an entry by its Zip64 extra field's values, in the order
// the format gives them.
bool ApplyZip64Extra(std::string_view extra, ZipEntry& entry) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const Fields header(extra.substr(at));
    const std::size_t length = header.U16(2);
    if (at + 4 + length > extra.size()) return false;
    if (header.U16(0) == kZip64ExtraId) {
      const Fields values(extra.substr(at + 4, length));
      std::size_t used = 0;
      for (std::uint64_t* field : {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
        if (*field != 0xFFFFFFFFu) continue;
        if (used + 8 > length) return false;
        *field = values.U64(used);
        used += 8;
      }
      return true;
    }
    at += 4 + length;
  }
  return true;
}

Outcome ReadEntry(std::string_view directory, std::size_t& at, ZipEntry& entry) {
  const Fields header(directory.substr(at));
  if (directory.size() - at < kDirectoryHeaderSize || header.U32(0) != kDirectorySignature) {
    return Outcome::No("the central directory is damaged");
  }
  const std::size_t nameLength = header.U16(28);
  const std::size_t extraLength = header.U16(30);
  const std::size_t commentLength = header.U16(32);
  const std::size_t end = at + kDirectoryHeaderSize + nameLength + extraLength + commentLength;
  if (end > directory.size()) return Outcome::No("the central directory is damaged");
  const std::string_view raw = directory.substr(at + kDirectoryHeaderSize, nameLength);
  entry.flags = header.U16(8);
  entry.method = header.U16(10);
  entry.crc32 = header.U32(16);
  entry.compressedSize = header.U32(20);
  entry.size = header.U32(24);
  entry.localHeaderOffset = header.U32(42);
  if ((header.U16(4) >> 8) == kUnixHost) entry.unixMode = header.U32(38) >> 16;
  const std::uint16_t disk = header.U16(34);  // 0xFFFF: in the Zip64 field, taken as 0
  const std::string_view extra =
      directory.substr(at + kDirectoryHeaderSize + nameLength, extraLength);
  if (!ApplyZip64Extra(extra, entry) || (disk != 0 && disk != 0xFFFF)) {
    return Outcome::No("an entry's Zip64 field is damaged or names another disk");
  }
  if ((entry.flags & kUtf8NameFlag) != 0 && !IsUtf8(raw)) {
    return Outcome::No("an entry's name is not the UTF-8 it says it is");
  }
  entry.name = (entry.flags & kUtf8NameFlag) != 0 ? std::string(raw) : NameFromCodePage437(raw);
  at = end;
  return {};
}

}  // namespace

ReadAt ReaderOf(platform::FileReader& file) {
  return [&file](std::uint64_t offset, char* data, std::size_t size) {
    std::size_t got = 0;
    return file.ReadAt(offset, data, size, got) && got == size;
  };
}

bool LooksLikeZip(const ReadAt& read, std::uint64_t archiveSize) {
  std::uint64_t endOffset = 0;
  return FindEnd(read, archiveSize, endOffset);
}

Outcome ReadZipDirectory(const ReadAt& read, std::uint64_t archiveSize,
                         std::vector<ZipEntry>& entries) {
  entries.clear();
  std::uint64_t endOffset = 0;
  if (!FindEnd(read, archiveSize, endOffset)) return Outcome::No("no zip end record");
  std::string bytes;
  if (!ReadBytes(read, endOffset, kEndSize, bytes)) return Outcome::No("cannot read the end");
  const Fields end(bytes);
  if (end.U16(4) != 0 || end.U16(6) != 0 || end.U16(8) != end.U16(10)) {
    return Outcome::No("the archive spans several disks");
  }
  DirectorySpan span{end.U16(10), end.U32(12), end.U32(16), endOffset};
  const bool zip64 =
      span.entries == 0xFFFF || span.size == 0xFFFFFFFFu || span.offset == 0xFFFFFFFFu;
  if (zip64) {
    if (Outcome read64 = ReadZip64End(read, endOffset, span); !read64) return read64;
  }
  if (span.size > span.limit || span.offset > span.limit - span.size ||
      span.size > kMaxDirectorySize || span.entries > span.size / kDirectoryHeaderSize) {
    return Outcome::No("the central directory does not fit the archive");
  }
  std::string directory;
  if (!ReadBytes(read, span.offset, static_cast<std::size_t>(span.size), directory)) {
    return Outcome::No("cannot read the central directory");
  }
  entries.resize(static_cast<std::size_t>(span.entries));
  std::size_t at = 0;
  for (ZipEntry& entry : entries) {
    if (Outcome read1 = ReadEntry(directory, at, entry); !read1) return read1;
    if (entry.localHeaderOffset > span.offset) {
      return Outcome::No("an entry lies outside the archive: " + entry.name);
    }
  }
  return {};
}

Outcome FindEntryData(const ReadAt& read, std::uint64_t archiveSize, const ZipEntry& entry,
                      std::uint64_t& dataOffset) {
  std::string header;
  if (entry.localHeaderOffset >
          archiveSize - std::min<std::uint64_t>(archiveSize, kLocalHeaderSize) ||
      !ReadBytes(read, entry.localHeaderOffset, kLocalHeaderSize, header) ||
      Fields(header).U32(0) != kLocalSignature) {
    return Outcome::No("its local header is missing");
  }
  const std::uint64_t nameOffset = entry.localHeaderOffset + kLocalHeaderSize;
  const std::size_t nameLength = Fields(header).U16(26);
  dataOffset = nameOffset + nameLength + Fields(header).U16(28);
  std::string raw;
  if (dataOffset > archiveSize || !ReadBytes(read, nameOffset, nameLength, raw)) {
    return Outcome::No("its local header is cut short");
  }
  const bool utf8 = (entry.flags & kUtf8NameFlag) != 0;
  if ((utf8 ? raw : NameFromCodePage437(raw)) != entry.name) {
    return Outcome::No("its local header names another entry");
  }
  if (entry.compressedSize > archiveSize - dataOffset) return Outcome::No("its data is cut short");
  return {};
}

}  // namespace unpack
