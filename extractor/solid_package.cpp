#include "solid_package.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/text.h"
#include "tar_reader.h"
#include "zstd_frame_reader.h"

namespace unpack {
namespace {

// Tar writers pad the archive to a whole record (10 KiB with most); zeros beyond this are
// no padding.
constexpr std::uint64_t kMaxTrailingZeros = 1 << 20;

// After the archive's end: only zeros until the frame ends.
Outcome ReadTrailer(ZstdFrameReader& frame) {
  char piece[4096];
  std::uint64_t zeros = 0;
  for (;;) {
    std::size_t got = 0;
    if (Outcome read = frame.ReadSome(piece, sizeof piece, got); !read) return read;
    if (got == 0) return {};
    zeros += got;
    if (zeros > kMaxTrailingZeros || std::any_of(piece, piece + got, [](char c) { return c; })) {
      return Outcome::No("data follows the archive's end");
    }
  }
}

Outcome Allowed(const TarEntry& entry, EntryWriter& writer) {
  if (Outcome named = EntryWriter::NameAllowed(entry.name); !named) return named;
  if (entry.kind == TarKind::kOther) return Outcome::No("not a regular file");
  if (!writer.TakeName(entry.name))
    return Outcome::No("differs from an earlier entry only in case");
  return {};
}

}  // namespace

CompressedInput FileInput(platform::FileReader& file, std::uint64_t& offset) {
  return [&file, &offset](char* data, std::size_t size, std::size_t& got) {
    if (!file.ReadAt(offset, data, size, got)) return false;
    offset += got;
    return true;
  };
}

Outcome ReadSolidPackage(CompressedInput input, const SolidEntryStep& each, int windowLogMax) {
  ZstdFrameReader frame(std::move(input), windowLogMax);
  TarReader tar([&frame](char* data, std::size_t size) { return frame.ReadExact(data, size); });
  for (;;) {
    auto entry = tar.Next();
    if (!entry) return entry.outcome();
    if (!*entry) return ReadTrailer(frame);
    if (Outcome taken = each(**entry, tar); !taken) return taken;
  }
}

bool LooksLikeSolidPackage(const std::wstring& path) {
  platform::FileReader file;
  char magic[4] = {};
  std::size_t got = 0;
  return file.Open(path) && file.ReadAt(0, magic, sizeof magic, got) && got == sizeof magic &&
         std::memcmp(magic, "\x28\xB5\x2F\xFD", sizeof magic) == 0;
}

ExtractStatus UnpackSolid(const std::wstring& archivePath, const std::wstring& destination,
                          const UnpackLimits& limits) {
  platform::FileReader file;
  std::uint64_t archiveSize = 0;
  if (!OpenArchive(archivePath, file, archiveSize)) return kExtractUnreadable;
  std::uint64_t entries = 0, total = 0, offset = 0;
  const Outcome surveyed =
      ReadSolidPackage(FileInput(file, offset), [&](const TarEntry& entry, TarReader&) {
        ++entries;
        total += std::min(entry.size, UINT64_MAX - total);  // saturating
        return Outcome();
      });
  if (!surveyed) {
    ReportArchive(archivePath, surveyed.why());
    return kExtractUnreadable;
  }
  if (!MakeDestination(destination)) {
    ReportArchive(archivePath, "cannot make the destination " + platform::ToUtf8(destination));
    return kExtractUnreadable;
  }
  if (Outcome kept = LimitPassed(entries, total, archiveSize, destination, limits); !kept) {
    ReportArchive(archivePath, kept.why());
    return kExtractUnreadable;
  }
  EntryWriter writer(destination);
  bool allUnpacked = true;
  offset = 0;
  const Outcome written =
      ReadSolidPackage(FileInput(file, offset), [&](const TarEntry& entry, TarReader& reader) {
        Outcome unpacked = Allowed(entry, writer);
        if (unpacked && entry.kind == TarKind::kDirectory)
          unpacked = writer.AddDirectory(entry.name);
        if (unpacked && entry.kind == TarKind::kFile) {
          unpacked = writer.AddFile(entry.name, entry.executable,
                                    [&reader](const DataSink& sink) { return reader.Data(sink); });
        }
        if (!unpacked) {
          ReportEntry(entry.name, unpacked.why());
          allUnpacked = false;
        }
        return Outcome();
      });
  if (!written) {
    // The survey read the same bytes whole: the file changed under the extractor.
    ReportArchive(archivePath, written.why());
    return kExtractEntriesFailed;
  }
  return allUnpacked ? kExtractDone : kExtractEntriesFailed;
}

}  // namespace unpack
