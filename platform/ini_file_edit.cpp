// The edits of an INI file: each builds the bytes of the edited file by splicing the old
// ones, and a section write can hand over the parsed result as well.
#include <algorithm>
#include <utility>

#include "platform/ini_file.h"
#include "platform/text.h"

namespace platform {
namespace {

struct Splice {
  std::size_t begin;
  std::size_t end;
  std::string text;
};

// Splices must be in file order and must not overlap.
std::string ApplySplices(const std::string& bytes, const std::vector<Splice>& splices) {
  std::size_t size = bytes.size();
  for (const Splice& s : splices) size += s.text.size() - (s.end - s.begin);
  std::string out;
  out.reserve(size);
  std::size_t copied = 0;
  for (const Splice& s : splices) {
    out.append(bytes, copied, s.begin - copied);
    out += s.text;
    copied = s.end;
  }
  out.append(bytes, copied, std::string::npos);
  return out;
}

}  // namespace

IniFile::IniFile(const IniFile& old, std::wstring_view section, const ProfileEntries& entries)
    : encoding_(old.encoding_),
      unit_(old.unit_),
      textStart_(old.textStart_),
      lineBreak_(old.lineBreak_) {
  const Section* s = old.FindSection(section);
  if (s != nullptr && old.CanReplaceInPlace(TrimProfileSpace(section), *s, entries)) {
    ReplaceSectionOf(old, *s, entries);
  } else {
    bytes_ = old.WithSection(section, entries);
    lineBreak_.clear();
    DetectEncodingAndParse();
  }
}

bool IniFile::CanReplaceInPlace(std::wstring_view name, const Section& s,
                                const ProfileEntries& entries) const {
  // The nameless head, a header that ends the file without a break, and a name that heads
  // more than one section are left to the whole parse.
  if (!s.hasHeader || lines_[s.header].next == lines_[s.header].end) return false;
  const std::size_t named =
      std::count_if(sections_.begin(), sections_.end(),
                    [&](const Section& other) { return NameIs(other.name, name); });
  if (named != 1) return false;
  // A key line starting with '[' could read as a header.
  for (const auto& entry : entries) {
    const std::wstring_view key = TrimProfileSpaceLeft(entry.first);
    if (!key.empty() && key.front() == L'[') return false;
  }
  // A lone CR right before the lines after the section would join a line feed that starts
  // them into one CR LF break. The new lines end with the file's first break; with no new
  // lines, the header's own break comes right before them.
  const std::size_t tailLine = (s.lastText == s.header ? s.header : s.lastText) + 1;
  const bool tailStartsWithLineFeed = tailLine < lines_.size() &&
                                      lines_[tailLine].begin + unit_ <= bytes_.size() &&
                                      Unit(lines_[tailLine].begin) == '\n';
  if (!tailStartsWithLineFeed) return true;
  const Line& header = lines_[s.header];
  const bool endsWithLoneCr = entries.empty()
                                  ? header.next == header.end + unit_ && Unit(header.end) == '\r'
                                  : lineBreak_ == Encode(L"\r");
  return !endsWithLoneCr;
}

void IniFile::ReplaceSectionOf(const IniFile& old, const Section& s,
                               const ProfileEntries& entries) {
  const std::size_t tailLine = (s.lastText == s.header ? s.header : s.lastText) + 1;
  const std::size_t begin = old.lines_[s.header].next;
  const std::size_t end = tailLine == s.header + 1 ? begin : old.lines_[s.lastText].next;
  bytes_.reserve(old.bytes_.size() - (end - begin) + RoomFor(entries));
  bytes_.append(old.bytes_, 0, begin);
  AppendEntries(bytes_, entries);
  const std::size_t newEnd = bytes_.size();
  bytes_.append(old.bytes_, end, std::string::npos);
  textEnd_ = bytes_.size() - (old.bytes_.size() - old.textEnd_);
  // Positions after the section move by the change in its size; unsigned arithmetic wraps
  // back correctly when it shrinks.
  auto moved = [&](std::size_t at) { return at - end + newEnd; };

  // The lines, keys and sections before the section's body stay as they were.
  const std::size_t sectionIndex = static_cast<std::size_t>(&s - old.sections_.data());
  lines_.reserve(old.lines_.size() + entries.size());
  lines_.assign(old.lines_.begin(), old.lines_.begin() + static_cast<std::ptrdiff_t>(s.header) + 1);
  keys_.reserve(old.keys_.size() + entries.size());
  keys_.assign(old.keys_.begin(), old.keys_.begin() + static_cast<std::ptrdiff_t>(s.firstKey));
  sections_.reserve(old.sections_.size());
  for (std::size_t i = 0; i <= sectionIndex; ++i) {
    sections_.emplace_back(static_cast<const SectionPlace&>(old.sections_[i]));
  }
  Section& replaced = sections_.back();
  replaced.keyCount = 0;
  replaced.lastText = replaced.header;

  // The new body is parsed; it holds keys only.
  SplitLines(begin, newEnd);
  for (std::size_t i = s.header + 1; i < lines_.size(); ++i) ParseLine(i);

  // Everything after it moves.
  const std::size_t lineShift = lines_.size() - tailLine;  // wraps like moved
  for (std::size_t i = tailLine; i < old.lines_.size(); ++i) {
    const Line& line = old.lines_[i];
    lines_.push_back({moved(line.begin), moved(line.end), moved(line.next)});
  }
  const std::size_t keyShift = keys_.size() - (s.firstKey + s.keyCount);
  for (std::size_t i = s.firstKey + s.keyCount; i < old.keys_.size(); ++i) {
    Key key = old.keys_[i];
    key.name = {moved(key.name.begin), moved(key.name.end)};
    key.value = {moved(key.value.begin), moved(key.value.end)};
    key.line += lineShift;
    keys_.push_back(key);
  }
  replaced.end = s.end + lineShift;
  for (std::size_t i = sectionIndex + 1; i < old.sections_.size(); ++i) {
    Section& next = sections_.emplace_back(static_cast<const SectionPlace&>(old.sections_[i]));
    next.name = {moved(next.name.begin), moved(next.name.end)};
    next.header += lineShift;
    next.lastText += lineShift;
    next.end += lineShift;
    next.firstKey += keyShift;
  }
  sectionIndex_ = old.sectionIndex_;  // same sections, same names, same order
}

std::string IniFile::Encode(std::wstring_view text) const {
  std::string out;
  AppendEncoded(out, text);
  return out;
}

void IniFile::AppendEncoded(std::string& out, std::wstring_view text) const {
  if (unit_ == 1) {
    // ASCII goes straight in; only the runs of other characters need converting.
    for (std::size_t i = 0; i < text.size();) {
      std::size_t j = i;
      while (j < text.size() && static_cast<char32_t>(text[j]) < 0x80) ++j;
      const std::size_t at = out.size();
      out.resize(at + (j - i));
      std::transform(text.begin() + i, text.begin() + j, out.begin() + at,
                     [](wchar_t c) { return static_cast<char>(c); });
      i = j;
      while (j < text.size() && static_cast<char32_t>(text[j]) >= 0x80) ++j;
      if (j > i) {
        const std::wstring_view other = text.substr(i, j - i);
        out += encoding_ == IniEncoding::kUtf8Bom ? ToUtf8(other) : ToSystemCodePage(other);
      }
      i = j;
    }
    return;
  }
  auto put = [&](char32_t unit) {
    const char lo = static_cast<char>(unit & 0xFF);
    const char hi = static_cast<char>(unit >> 8);
    if (encoding_ == IniEncoding::kUtf16Le) {
      out += lo;
      out += hi;
    } else {
      out += hi;
      out += lo;
    }
  };
  for (wchar_t w : text) {
    const auto c = static_cast<char32_t>(w);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
}

std::string IniFile::BreakIfUnterminated(std::size_t lineIndex) const {
  const Line& line = lines_[lineIndex];
  return line.next == line.end ? lineBreak_ : std::string();
}

std::size_t IniFile::RoomFor(const ProfileEntries& entries) const {
  std::size_t room = 0;
  for (const auto& [key, value] : entries) room += (key.size() + value.size() + 3) * unit_;
  return room;
}

std::string IniFile::WithNewSection(std::wstring_view section, std::size_t room) const {
  std::string out;
  out.reserve(bytes_.size() + room + 64);
  out.assign(bytes_, 0, textEnd_);
  if (!lines_.empty()) out += BreakIfUnterminated(lines_.size() - 1);
  out += Encode(L"[" + std::wstring(TrimProfileSpaceLeft(section)) + L"]");
  out += lineBreak_;
  return out;
}

void IniFile::AppendEntries(std::string& out, const ProfileEntries& entries) const {
  for (const auto& [key, value] : entries) {
    AppendKeyLine(out, key, value);
    out += lineBreak_;
  }
}

// New lines carry names as given less leading white space, as the profile functions write them.
std::string IniFile::KeyLine(std::wstring_view key, std::wstring_view value) const {
  std::string line;
  AppendKeyLine(line, key, value);
  return line;
}

void IniFile::AppendKeyLine(std::string& out, std::wstring_view key,
                            std::wstring_view value) const {
  AppendEncoded(out, TrimProfileSpaceLeft(key));
  AppendEncoded(out, L"=");
  AppendEncoded(out, TrimProfileSpaceLeft(value));
}

std::string IniFile::WithValue(std::wstring_view section, std::wstring_view key,
                               std::wstring_view value) const {
  const Section* s = FindSection(section);
  if (s == nullptr) {
    std::string out = WithNewSection(section, (key.size() + value.size() + 3) * unit_);
    out += KeyLine(key, value) + lineBreak_;
    AppendTail(out);
    return out;
  }
  const Key* k = FindKey(*s, key);
  if (k == nullptr) {
    const std::size_t at = lines_[s->lastText].next;
    return ApplySplices(
        bytes_, {{at, at, BreakIfUnterminated(s->lastText) + KeyLine(key, value) + lineBreak_}});
  }
  if (k->hasValue && Decode(k->value) == TrimProfileSpaceLeft(value)) return bytes_;
  const Line& line = lines_[k->line];
  return ApplySplices(bytes_, {{line.begin, line.end, KeyLine(Decode(k->name), value)}});
}

std::string IniFile::WithSection(std::wstring_view section, const ProfileEntries& entries) const {
  // One buffer for the whole result: large files should be copied once, not twice.
  const std::size_t room = RoomFor(entries);
  const Section* first = FindSection(section);
  if (first == nullptr) {
    std::string out = WithNewSection(section, room);
    AppendEntries(out, entries);
    AppendTail(out);
    return out;
  }
  std::string out;
  out.reserve(bytes_.size() + room);
  std::size_t copied = 0;
  for (const Section& s : sections_) {
    if (!NameIs(s.name, TrimProfileSpace(section))) continue;
    const std::size_t begin = s.hasHeader ? lines_[s.header].next : lines_[s.header].begin;
    const std::size_t end = s.hasHeader && s.lastText == s.header ? begin : lines_[s.lastText].next;
    out.append(bytes_, copied, begin - copied);
    if (&s == first) {
      if (s.hasHeader) out += BreakIfUnterminated(s.header);
      AppendEntries(out, entries);
    }
    copied = end;
  }
  out.append(bytes_, copied, std::string::npos);
  return out;
}

std::string IniFile::WithoutSection(std::wstring_view section) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return bytes_;
  const std::size_t begin = lines_[s->header].begin;
  const std::size_t end = s->end < lines_.size() ? lines_[s->end].begin : textEnd_;
  return ApplySplices(bytes_, {{begin, end, std::string()}});
}

}  // namespace platform
