#include "platform/ini_section_stream.h"

#include <utility>

namespace platform {

IniSectionStream::IniSectionStream(std::wstring_view section, LineSink onLine)
    : section_(TrimProfileSpace(section)), onLine_(std::move(onLine)) {}

bool IniSectionStream::Feed(std::string_view bytes) {
  if (state_ == State::kDone) return false;
  pending_ += bytes;
  if (!encoding_) {
    // The longest byte-order mark has three bytes.
    if (pending_.size() < 3) return true;
    IniFile marked(pending_.substr(0, 3));
    encoding_ = marked.Encoding();
    unit_ = encoding_ == IniEncoding::kUtf16Le || encoding_ == IniEncoding::kUtf16Be ? 2 : 1;
    const std::size_t mark = encoding_ == IniEncoding::kUtf8Bom ? 3 : unit_ == 2 ? 2 : 0;
    pending_.erase(0, mark);
  }
  const std::size_t end = WholeLinesEnd();
  if (end == 0) return true;
  std::string piece = pending_.substr(0, end);
  pending_.erase(0, end);
  searched_ = 0;
  Parse(std::move(piece));
  return state_ != State::kDone;
}

void IniSectionStream::Finish() {
  if (state_ == State::kDone) return;
  if (!encoding_) {
    // Too short for a byte-order mark of three bytes: the whole-file parse decides.
    const IniFile file(std::move(pending_));
    for (const auto& [key, value] : file.SectionEntries(section_)) onLine_(key, value);
    state_ = State::kDone;
    return;
  }
  Parse(std::move(pending_));
  state_ = State::kDone;
}

std::size_t IniSectionStream::WholeLinesEnd() {
  const auto* p = reinterpret_cast<const unsigned char*>(pending_.data());
  auto unitAt = [&](std::size_t at) -> char32_t {
    if (unit_ == 1) return p[at];
    return *encoding_ == IniEncoding::kUtf16Le ? char32_t{p[at]} | char32_t{p[at + 1]} << 8
                                               : char32_t{p[at]} << 8 | char32_t{p[at + 1]};
  };
  const std::size_t end = pending_.size() / unit_ * unit_;
  // From the end back: a LF ends its line; a CR does when the unit after it is known, since
  // that unit is then no LF (the search would have met the LF first).
  for (std::size_t at = end; at >= searched_ + unit_; at -= unit_) {
    const char32_t c = unitAt(at - unit_);
    if (c == '\n' || (c == '\r' && at < end)) return at;
  }
  // The last unit may be a CR whose line end is not yet certain: it is searched again.
  searched_ = end >= unit_ ? end - unit_ : 0;
  return 0;
}

void IniSectionStream::Parse(std::string piece) {
  const IniFile file(std::move(piece), *encoding_);
  for (const IniFile::Section& s : file.sections_) {
    // Lines before the first header of a later piece go on the section the last piece ended in.
    const bool continues = !s.hasHeader && !atStart_;
    if (!continues) {
      if (state_ == State::kIn) {
        state_ = State::kDone;
        return;
      }
      if (file.NameIs(s.name, section_)) state_ = State::kIn;
    }
    if (state_ != State::kIn) continue;
    for (std::size_t i = s.firstKey; i < s.firstKey + s.keyCount; ++i) {
      const IniFile::Key& k = file.keys_[i];
      if (!k.isComment) onLine_(file.Decode(k.name), file.Decode(k.value));
    }
  }
  if (!file.sections_.empty()) atStart_ = false;
}

}  // namespace platform
