// Reading one zstd frame piece by piece, with the window it may ask for capped: a frame
// that needs more memory than the cap allows ends in a refusal, never a large allocation.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/outcome.h"

namespace unpack {

// The widest window a solid package's frame may use: 2^27 bytes (128 MiB) of memory.
inline constexpr int kSolidWindowLogMax = 27;

// Reads up to size bytes of compressed input; got is 0 at its end. False on a read error.
using CompressedInput = std::function<bool(char* data, std::size_t size, std::size_t& got)>;

class ZstdFrameReader {
 public:
  ZstdFrameReader(CompressedInput input, int windowLogMax);
  ~ZstdFrameReader();
  ZstdFrameReader(const ZstdFrameReader&) = delete;
  ZstdFrameReader& operator=(const ZstdFrameReader&) = delete;

  // Decodes up to size bytes into data; got is 0 once the frame has ended and the input with
  // it. Why not when the input fails or is cut short, the frame is damaged or needs a wider
  // window than allowed, or bytes follow the frame.
  Outcome ReadSome(char* data, std::size_t size, std::size_t& got);
  // Exactly size bytes; why not when the frame ends first or ReadSome fails.
  Outcome ReadExact(char* data, std::size_t size);

 private:
  Outcome Refill();

  CompressedInput input_;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace unpack
