// One section of an INI file, read while the file streams in: for sections too large to hold
// the file and its whole index at once. The lines reach the caller as IniFile::SectionEntries
// gives them, and only the lines not yet complete are held between two pieces.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace platform {

class IniSectionStream {
 public:
  // A line of the section: key and value trimmed, quotes kept; a line without '=' gives its
  // text as key and an empty value. The views last for the call only.
  using LineSink = std::function<void(std::wstring_view key, std::wstring_view value)>;

  IniSectionStream(std::wstring_view section, LineSink onLine);

  // The next bytes of the file, in order. Returns false once the section has ended, when no
  // later byte can add to it.
  bool Feed(std::string_view bytes);

  // The end of the file: hands over the lines still held.
  void Finish();

 private:
  enum class State { kBefore, kIn, kDone };

  // The length of pending_'s whole lines: up to the last line break whose end is certain.
  std::size_t WholeLinesEnd();
  void Parse(std::string piece);

  std::wstring section_;
  LineSink onLine_;
  std::optional<IniEncoding> encoding_;  // known after the first bytes
  std::size_t unit_ = 1;
  std::string pending_;
  std::size_t searched_ = 0;  // pending_ before this holds no line break that ends a piece
  bool atStart_ = true;       // lines before a header are the file's own nameless section
  State state_ = State::kBefore;
};

}  // namespace platform
