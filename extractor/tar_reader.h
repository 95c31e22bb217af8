// Reading the entries of a tar stream (POSIX ustar, with pax headers for long or non-ASCII
// names) in one pass, as a solid package holds them. Every field is bounded: a header is 512
// bytes, a pax header at most kMaxPaxHeader, and a name at most kMaxTarName.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "entry_writer.h"
#include "platform/outcome.h"

namespace unpack {

inline constexpr std::uint64_t kMaxPaxHeader = 64 * 1024;
inline constexpr std::size_t kMaxTarName = 4096;

// Reads exactly size bytes of the stream; why not when it ends first or fails.
using StreamRead = std::function<Outcome(char* data, std::size_t size)>;

enum class TarKind { kFile, kDirectory, kOther };

struct TarEntry {
  std::string name;  // '/'-separated UTF-8 as the archive has it; a directory's may end in '/'
  TarKind kind = TarKind::kFile;
  std::uint64_t size = 0;  // of the data that follows the header
  bool executable = false;
};

class TarReader {
 public:
  explicit TarReader(StreamRead read) : read_(std::move(read)) {}

  // The next entry, after skipping what is left of the current one's data; nullopt at the
  // archive's end (two zero blocks). Why not when a header is damaged (its checksum, a
  // number, no ustar magic), a pax header is too long or malformed, or the stream fails.
  OrWhy<std::optional<TarEntry>> Next();
  // Hands the current entry's data to sink in pieces; why not when the stream fails or the
  // sink refuses (what is left is skipped by the next Next).
  Outcome Data(const DataSink& sink);

 private:
  Outcome Skip(std::uint64_t size);
  Outcome ReadPax(std::uint64_t size, std::optional<std::string>& path,
                  std::optional<std::uint64_t>& dataSize);

  StreamRead read_;
  std::uint64_t left_ = 0;     // of the current entry's data
  std::uint64_t padding_ = 0;  // after it, to the next 512-byte block
};

}  // namespace unpack
