#include "tar_reader.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace unpack {
namespace {

constexpr std::size_t kBlock = 512;
using Block = std::array<char, kBlock>;

std::string_view Field(const Block& block, std::size_t offset, std::size_t size) {
  const std::string_view field(block.data() + offset, size);
  return field.substr(0, field.find('\0'));
}

// An octal number field: blanks before, digits, then NUL or blanks. The base-256 form
// (files of 8 GiB and more) is no package's.
std::optional<std::uint64_t> OctalField(const Block& block, std::size_t offset, std::size_t size) {
  std::string_view field(block.data() + offset, size);
  std::size_t at = field.find_first_not_of(' ');
  std::uint64_t value = 0;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '7'; ++at) {
    if (value > (UINT64_MAX >> 3)) return std::nullopt;
    value = value * 8 + static_cast<std::uint64_t>(field[at] - '0');
  }
  for (; at < field.size(); ++at) {
    if (field[at] != ' ' && field[at] != '\0') return std::nullopt;
  }
  return value;
}

bool IsZeroBlock(const Block& block) {
  return std::all_of(block.begin(), block.end(), [](char c) { return c == 0; });
}

Outcome CheckHeader(const Block& block) {
  const auto recorded = OctalField(block, 148, 8);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
  }
  if (!recorded || *recorded != sum) return Outcome::No("a tar header's checksum does not match");
  if (Field(block, 257, 6).substr(0, 5) != "ustar")
    return Outcome::No("a header is no ustar header");
  return {};
}

std::optional<std::uint64_t> Decimal(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

TarKind KindOf(char type) {
  if (type == '0' || type == '\0' || type == '7') return TarKind::kFile;
  if (type == '5') return TarKind::kDirectory;
  return TarKind::kOther;
}

}  // namespace

Outcome TarReader::Skip(std::uint64_t size) {
  char scratch[4096];
  while (size > 0) {
    const std::size_t piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof scratch));
    if (Outcome read = read_(scratch, piece); !read) return read;
    size -= piece;
  }
  return {};
}

Outcome TarReader::ReadPax(std::uint64_t size, std::optional<std::string>& path,
                           std::optional<std::uint64_t>& dataSize) {
  if (size > kMaxPaxHeader) return Outcome::No("a pax header is too long");
  std::vector<char> data(static_cast<std::size_t>(size));
  if (Outcome read = read_(data.data(), data.size()); !read) return read;
  if (Outcome skipped = Skip((kBlock - size % kBlock) % kBlock); !skipped) return skipped;
  std::string_view rest(data.data(), data.size());
  // Records: "<length> <key>=<value>\n", the length counting the whole record.
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    const auto length =
        blank == std::string_view::npos ? std::nullopt : Decimal(rest.substr(0, blank));
    if (!length || *length <= blank + 1 || *length > rest.size() || rest[*length - 1] != '\n') {
      return Outcome::No("a pax header is malformed");
    }
    const std::string_view record = rest.substr(blank + 1, *length - blank - 2);
    rest.remove_prefix(*length);
    const std::size_t equals = record.find('=');
    if (equals == std::string_view::npos) return Outcome::No("a pax header is malformed");
    const std::string_view key = record.substr(0, equals);
    const std::string_view value = record.substr(equals + 1);
    if (key == "path") {
      if (value.empty() || value.size() > kMaxTarName ||
          value.find('\0') != std::string_view::npos) {
        return Outcome::No("a pax path is empty or too long");
      }
      path = std::string(value);
    } else if (key == "size") {
      dataSize = Decimal(value);
      if (!dataSize) return Outcome::No("a pax size is malformed");
    }
  }
  return {};
}

OrWhy<std::optional<TarEntry>> TarReader::Next() {
  if (Outcome skipped = Skip(left_ + padding_); !skipped) return skipped;
  left_ = padding_ = 0;
  std::optional<std::string> paxPath;
  std::optional<std::uint64_t> paxSize;
  for (bool afterPax = false;; afterPax = true) {
    Block block;
    if (Outcome read = read_(block.data(), kBlock); !read) return read;
    if (IsZeroBlock(block)) {
      if (afterPax) return Outcome::No("a pax header stands before the archive's end");
      if (Outcome read = read_(block.data(), kBlock); !read) return read;
      if (!IsZeroBlock(block)) return Outcome::No("a lone zero block inside the archive");
      return std::optional<TarEntry>();
    }
    if (Outcome checked = CheckHeader(block); !checked) return checked;
    const auto size = OctalField(block, 124, 12);
    const auto mode = OctalField(block, 100, 8);
    if (!size || !mode) return Outcome::No("a tar header holds a malformed number");
    const char type = block[156];
    if (type == 'x' || type == 'g') {
      if (afterPax) return Outcome::No("two pax headers in a row");
      std::optional<std::string> path;
      std::optional<std::uint64_t> dataSize;
      if (Outcome read = ReadPax(*size, path, dataSize); !read) return read;
      // A global header's fields are not taken: each entry's own header names it.
      if (type == 'x') {
        paxPath = std::move(path);
        paxSize = dataSize;
      }
      continue;
    }
    if (type == 'L' || type == 'K') return Outcome::No("GNU long names are not read");
    TarEntry entry;
    entry.kind = KindOf(type);
    entry.size = paxSize.value_or(*size);
    entry.executable = (*mode & 0111) != 0;
    if (paxPath) {
      entry.name = *paxPath;
    } else {
      const std::string_view prefix = Field(block, 345, 155);
      entry.name = prefix.empty() ? std::string(Field(block, 0, 100))
                                  : std::string(prefix) + "/" + std::string(Field(block, 0, 100));
    }
    if (entry.name.empty()) return Outcome::No("a tar entry has no name");
    left_ = entry.size;
    padding_ = (kBlock - entry.size % kBlock) % kBlock;
    return std::optional<TarEntry>(std::move(entry));
  }
}

Outcome TarReader::Data(const DataSink& sink) {
  char piece[64 * 1024];
  while (left_ > 0) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left_, sizeof piece));
    if (Outcome read = read_(piece, size); !read) return read;
    left_ -= size;
    if (!sink(piece, size)) return Outcome::No("the entry's data was not taken");
  }
  return {};
}

}  // namespace unpack
