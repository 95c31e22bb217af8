#include <zlib.h>

#include <algorithm>
#include <memory>

#include "zip_directory.h"

namespace unpack {
namespace {

constexpr std::size_t kInputChunk = 64 * 1024;
constexpr std::size_t kOutputChunk = 256 * 1024;

bool CopyStored(const ReadAt& read, const ZipEntry& entry, std::uint64_t offset,
                const DataSink& sink, std::string& why) {
  if (entry.compressedSize != entry.size) {
    why = "a stored entry whose sizes differ";
    return false;
  }
  const std::unique_ptr<char[]> buffer(new char[kOutputChunk]);  // filled before read
  for (std::uint64_t done = 0; done < entry.size;) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(kOutputChunk, entry.size - done));
    if (!read(offset + done, buffer.get(), n)) {
      why = "its data is cut short";
      return false;
    }
    if (!sink(buffer.get(), n)) return false;
    done += n;
  }
  return true;
}

bool Inflate(const ReadAt& read, const ZipEntry& entry, std::uint64_t offset, const DataSink& sink,
             std::string& why) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    why = "cannot start inflating";
    return false;
  }
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
        why = "its data cannot be read";
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
  if (sunk && status != Z_STREAM_END && why.empty()) {
    why = "its deflated data is damaged or cut short";
  }
  return sunk && why.empty();
}

}  // namespace

bool ReadEntryData(const ReadAt& read, std::uint64_t archiveSize, const ZipEntry& entry,
                   const DataSink& sink, std::string& problem) {
  problem.clear();
  std::uint64_t offset = 0;
  if (!FindEntryData(read, archiveSize, entry, offset, problem)) return false;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  const DataSink checked = [&](const char* data, std::size_t n) {
    crc = static_cast<std::uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
    size += n;
    if (size > entry.size) {
      problem = "unpacks to more than the directory says";
    } else if (!sink(data, n)) {
      problem = "its bytes could not be written";
    }
    return problem.empty();
  };
  const bool copied = entry.method == kZipStored ? CopyStored(read, entry, offset, checked, problem)
                                                 : Inflate(read, entry, offset, checked, problem);
  if (!copied) return false;
  if (size != entry.size) problem = "unpacks to fewer bytes than the directory says";
  if (size == entry.size && crc != entry.crc32) problem = "its CRC-32 does not match";
  return problem.empty();
}

}  // namespace unpack
