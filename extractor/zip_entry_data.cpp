#include <zlib.h>

#include <algorithm>
#include <memory>

#include "zip_directory.h"

namespace unpack {
namespace {

constexpr std::size_t kInputChunk = 64 * 1024;
constexpr std::size_t kOutputChunk = 256 * 1024;

// Hands the stored bytes to sink; a sink that refuses has its own reason, which the caller
// keeps.
Outcome CopyStored(const ReadAt& read, const ZipEntry& entry, std::uint64_t offset,
                   const DataSink& sink) {
  if (entry.compressedSize != entry.size) return Outcome::No("a stored entry whose sizes differ");
  const std::unique_ptr<char[]> buffer(new char[kOutputChunk]);  // filled before read
  for (std::uint64_t done = 0; done < entry.size;) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(kOutputChunk, entry.size - done));
    if (!read(offset + done, buffer.get(), n)) return Outcome::No("its data is cut short");
    if (!sink(buffer.get(), n)) return Outcome::No("its bytes could not be written");
    done += n;
  }
  return {};
}

Outcome Inflate(const ReadAt& read, const ZipEntry& entry, std::uint64_t offset,
                const DataSink& sink) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return Outcome::No("cannot start inflating");
  Outcome inflated;
  // Not zeroed: each is filled before it is read, and an archive has thousands of entries.
  const std::unique_ptr<char[]> input(new char[kInputChunk]);
  const std::unique_ptr<char[]> output(new char[kOutputChunk]);
  std::uint64_t taken = 0;
  int status = Z_OK;
  bool sunk = true;
  for (;;) {
    if (stream.avail_in == 0 && taken < entry.compressedSize) {
      const auto n = static_cast<std::size_t>(
          std::min<std::uint64_t>(kInputChunk, entry.compressedSize - taken));
      if (!read(offset + taken, input.get(), n)) {
        inflated = Outcome::No("its data cannot be read");
        break;
      }
      taken += n;
      stream.next_in = reinterpret_cast<Bytef*>(input.get());
      stream.avail_in = static_cast<uInt>(n);
    }
    stream.next_out = reinterpret_cast<Bytef*>(output.get());
    stream.avail_out = static_cast<uInt>(kOutputChunk);
    // Without input left and no output to give, inflate answers Z_BUF_ERROR: cut short.
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    sunk = sink(output.get(), kOutputChunk - stream.avail_out);
    if (!sunk || status == Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  if (!sunk) return Outcome::No("its bytes could not be written");
  if (inflated && status != Z_STREAM_END) {
    return Outcome::No("its deflated data is damaged or cut short");
  }
  return inflated;
}

}  // namespace

Outcome ReadEntryData(const ReadAt& read, std::uint64_t archiveSize, const ZipEntry& entry,
                      const DataSink& sink) {
  std::uint64_t offset = 0;
  if (Outcome found = FindEntryData(read, archiveSize, entry, offset); !found) return found;
  Outcome refused;  // why the checked sink refused a piece
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  const DataSink checked = [&](const char* data, std::size_t n) {
    crc = static_cast<std::uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
    size += n;
    if (size > entry.size) {
      refused = Outcome::No("unpacks to more than the directory says");
    } else if (!sink(data, n)) {
      refused = Outcome::No("its bytes could not be written");
    }
    return refused.ok();
  };
  const Outcome copied = entry.method == kZipStored ? CopyStored(read, entry, offset, checked)
                                                    : Inflate(read, entry, offset, checked);
  if (!refused) return refused;
  if (!copied) return copied;
  if (size != entry.size) return Outcome::No("unpacks to fewer bytes than the directory says");
  if (crc != entry.crc32) return Outcome::No("its CRC-32 does not match");
  return {};
}

}  // namespace unpack
