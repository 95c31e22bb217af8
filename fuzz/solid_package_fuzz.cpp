// Solid packages as a server or an attacker may send them, read by the extractor's reader.
// The first byte chooses what the rest is: even, the tar stream itself (compressed here, so
// that the tar reader is what the fuzzer explores); odd, the compressed package (the frame
// reader). Whatever the bytes, the reader ends with entries or a refusal, and hands out for
// each entry exactly the bytes its header gives, never more than the stream holds.
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "solid_package.h"

namespace {

// The window cap the runs read with: a frame may ask for 128 MiB, which the reader then
// allocates, and at that cost a run explores a few hundred inputs a second. The cap's own
// check is the same code at any width; what lies behind it is reached with 1 MiB as well.
constexpr int kFuzzWindowLog = 20;

std::string Compressed(const std::uint8_t* data, std::size_t size) {
  static ZSTD_CCtx* const context = ZSTD_createCCtx();  // one for the run: making one is slow
  std::string frame(ZSTD_compressBound(size), '\0');
  const std::size_t written = ZSTD_compressCCtx(context, frame.data(), frame.size(), data, size, 1);
  fuzz::Require(!ZSTD_isError(written), "zstd compresses any input");
  frame.resize(written);
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool tarGiven = data[0] % 2 == 0;
  const std::string package =
      tarGiven ? Compressed(data + 1, size - 1) : std::string(fuzz::Bytes(data + 1, size - 1));
  std::size_t at = 0;
  const unpack::CompressedInput input = [&package, &at](char* to, std::size_t want,
                                                        std::size_t& got) {
    got = std::min(want, package.size() - at);
    std::memcpy(to, package.data() + at, got);
    at += got;
    return true;
  };
  std::uint64_t handedOut = 0;
  const Outcome read = unpack::ReadSolidPackage(
      input,
      [&handedOut](const unpack::TarEntry& entry, unpack::TarReader& reader) {
        fuzz::Require(!entry.name.empty() && entry.name.find('\0') == std::string::npos,
                      "an entry has a name without NUL");
        std::uint64_t taken = 0;
        // Every other entry is read, so that skipping is explored as much as reading.
        if (handedOut % 2 == 0) {
          const Outcome data = reader.Data([&taken](const char*, std::size_t piece) {
            taken += piece;
            return true;
          });
          fuzz::Require(!data || taken == entry.size, "a whole entry is exactly its size");
          fuzz::Require(taken <= entry.size, "no entry hands out more than its size");
        }
        handedOut += taken + 1;
        return Outcome();
      },
      kFuzzWindowLog);
  if (read && tarGiven) {
    fuzz::Require(handedOut <= size, "no more is handed out than the stream holds");
  }
  return 0;
}
