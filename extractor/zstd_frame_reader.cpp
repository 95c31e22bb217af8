#include "zstd_frame_reader.h"

#include <zstd.h>

#include <vector>

namespace unpack {
namespace {

// The compressed bytes read at a time. zstd suggests a whole block (128 KiB), but any size
// works; a smaller one is a cheaper allocation for every package opened.
constexpr std::size_t kInputPiece = 32 * 1024;

}  // namespace

struct ZstdFrameReader::State {
  ZSTD_DCtx* context = nullptr;
  std::vector<char> input;
  ZSTD_inBuffer pending{nullptr, 0, 0};
  bool inputEnded = false;
  bool frameEnded = false;
  Outcome failed;  // once failed, every later read fails the same way
};

ZstdFrameReader::ZstdFrameReader(CompressedInput input, int windowLogMax)
    : input_(std::move(input)), state_(std::make_unique<State>()) {
  state_->context = ZSTD_createDCtx();
  state_->input.resize(kInputPiece);
  state_->pending.src = state_->input.data();
  if (state_->context == nullptr) {
    state_->failed = Outcome::No("no memory for the decoder");
  } else if (ZSTD_isError(
                 ZSTD_DCtx_setParameter(state_->context, ZSTD_d_windowLogMax, windowLogMax))) {
    state_->failed = Outcome::No("the decoder takes no window cap");
  }
}

ZstdFrameReader::~ZstdFrameReader() { ZSTD_freeDCtx(state_->context); }

Outcome ZstdFrameReader::Refill() {
  std::size_t got = 0;
  if (!input_(state_->input.data(), state_->input.size(), got)) {
    return Outcome::No("the package cannot be read");
  }
  state_->pending.size = got;
  state_->pending.pos = 0;
  state_->inputEnded = got == 0;
  return {};
}

Outcome ZstdFrameReader::ReadSome(char* data, std::size_t size, std::size_t& got) {
  got = 0;
  State& s = *state_;
  if (!s.failed) return s.failed;
  ZSTD_outBuffer out{data, size, 0};
  while (out.pos == 0 && size > 0) {
    if (s.pending.pos == s.pending.size && !s.inputEnded) {
      if (Outcome filled = Refill(); !filled) return s.failed = filled;
    }
    if (s.frameEnded) {
      // One frame and nothing after it: a second frame would be a second package.
      if (s.pending.pos != s.pending.size) return s.failed = Outcome::No("bytes follow the frame");
      if (s.inputEnded) return {};
      continue;
    }
    if (s.pending.pos == s.pending.size && s.inputEnded) {
      return s.failed = Outcome::No("the frame is cut short");
    }
    const std::size_t hint = ZSTD_decompressStream(s.context, &out, &s.pending);
    if (ZSTD_isError(hint)) {
      return s.failed = Outcome::No(std::string("damaged frame: ") + ZSTD_getErrorName(hint));
    }
    s.frameEnded = hint == 0;
  }
  got = out.pos;
  return {};
}

Outcome ZstdFrameReader::ReadExact(char* data, std::size_t size) {
  while (size > 0) {
    std::size_t got = 0;
    if (Outcome read = ReadSome(data, size, got); !read) return read;
    if (got == 0) return Outcome::No("the package ends inside an entry");
    data += got;
    size -= got;
  }
  return {};
}

}  // namespace unpack
