#include "ini_file.h"

#include <algorithm>

#include "platform/text.h"

namespace platform {
namespace {

// The white space of the profile functions; ^Z is the end-of-file mark of old DOS files.
bool IsProfileSpace(wchar_t c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == 0x20; }

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring_view TrimLeft(std::wstring_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  return text;
}

wchar_t FoldChar(wchar_t c) {
  const bool upper = (c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
                     (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F);
  if (upper) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 0x50);
  return c;
}

bool IsUtf16(IniEncoding encoding) {
  return encoding == IniEncoding::kUtf16Le || encoding == IniEncoding::kUtf16Be;
}

struct Splice {
  std::size_t begin;
  std::size_t end;
  std::string text;
};

// Splices must be in file order and must not overlap.
std::string ApplySplices(const std::string& bytes, const std::vector<Splice>& splices) {
  std::string out;
  out.reserve(bytes.size());
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

bool SameProfileName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  }
  return true;
}

std::size_t IniFile::NameHash::operator()(std::wstring_view name) const {
  std::size_t hash = 14695981039346656037ull;
  for (wchar_t c : name) hash = (hash ^ static_cast<std::size_t>(FoldChar(c))) * 1099511628211ull;
  return hash;
}

bool IniFile::NameEqual::operator()(std::wstring_view a, std::wstring_view b) const {
  return SameProfileName(a, b);
}

IniFile::IniFile(std::string bytes) : bytes_(std::move(bytes)) {
  auto starts = [&](std::string_view mark) { return bytes_.starts_with(mark); };
  if (starts("\xEF\xBB\xBF")) {
    encoding_ = IniEncoding::kUtf8Bom;
    textStart_ = 3;
  } else if (starts("\xFF\xFE")) {
    encoding_ = IniEncoding::kUtf16Le;
    textStart_ = 2;
  } else if (starts("\xFE\xFF")) {
    encoding_ = IniEncoding::kUtf16Be;
    textStart_ = 2;
  }
  SplitLines();
  DecodeLines();
  Parse();
}

void IniFile::SplitLines() {
  const std::size_t unit = IsUtf16(encoding_) ? 2 : 1;
  const std::size_t usable = textStart_ + (bytes_.size() - textStart_) / unit * unit;
  auto at = [&](std::size_t i) -> unsigned {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(bytes_[k]); };
    if (unit == 1) return b(i);
    return encoding_ == IniEncoding::kUtf16Le ? b(i) | (b(i + 1) << 8) : (b(i) << 8) | b(i + 1);
  };
  std::size_t start = textStart_;
  for (std::size_t i = textStart_; i < usable; i += unit) {
    const unsigned c = at(i);
    if (c != '\r' && c != '\n') continue;
    std::size_t next = i + unit;
    if (c == '\r' && next < usable && at(next) == '\n') next += unit;
    if (lineBreak_.empty()) lineBreak_ = bytes_.substr(i, next - i);
    lines_.push_back({start, i, next});
    start = next;
    i = next - unit;
  }
  if (start < bytes_.size()) lines_.push_back({start, bytes_.size(), bytes_.size()});
  if (lineBreak_.empty()) lineBreak_ = Encode(L"\r\n");
}

void IniFile::DecodeLines() {
  text_.reserve(bytes_.size() - textStart_);
  for (Line& line : lines_) {
    line.textBegin = text_.size();
    AppendLineText(line);
    line.textEnd = text_.size();
  }
}

void IniFile::AppendLineText(const Line& line) {
  if (!IsUtf16(encoding_)) {
    text_ += FromUtf8(std::string_view(bytes_).substr(line.begin, line.end - line.begin));
    return;
  }
  auto unit = [&](std::size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes_[i]);
    const auto b = static_cast<unsigned char>(bytes_[i + 1]);
    return encoding_ == IniEncoding::kUtf16Le ? a | (b << 8) : (a << 8) | b;
  };
  for (std::size_t i = line.begin; i + 1 < line.end; i += 2) {
    char32_t c = unit(i);
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c <= 0xDBFF && i + 3 < line.end) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    text_ += static_cast<wchar_t>(c);
  }
}

std::string IniFile::Encode(std::wstring_view text) const {
  if (!IsUtf16(encoding_)) return ToUtf8(text);
  std::string out;
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
  return out;
}

void IniFile::Parse() {
  const std::wstring_view all(text_);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    ParseLine(i, all.substr(lines_[i].textBegin, lines_[i].textEnd - lines_[i].textBegin));
  }
  if (!sections_.empty()) sections_.back().end = lines_.size();
  // The indexes are built last: the sections and keys no longer move.
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    sectionIndex_.emplace(sections_[i].name, i);
    Section& s = sections_[i];
    s.keyIndex.reserve(s.keys.size());
    for (std::size_t k = 0; k < s.keys.size(); ++k) s.keyIndex.emplace(s.keys[k].name, k);
  }
}

void IniFile::ParseLine(std::size_t index, std::wstring_view raw) {
  const std::wstring_view text = Trim(raw);
  if (text.empty()) return;
  const std::size_t close = text.rfind(L']');
  if (text.front() == L'[' && close != std::wstring_view::npos && close > 0) {
    if (!sections_.empty()) sections_.back().end = index;
    Section& s = sections_.emplace_back();
    s.name = Trim(text.substr(1, close - 1));
    s.header = s.lastText = index;
    s.hasHeader = true;
    return;
  }
  if (sections_.empty()) sections_.emplace_back().header = index;  // keys above any header
  Section& s = sections_.back();
  Key& key = s.keys.emplace_back();
  const std::size_t equals = text.find(L'=');
  key.name = Trim(text.substr(0, equals));
  if (equals != std::wstring_view::npos) {
    key.value = TrimLeft(text.substr(equals + 1));
    key.hasValue = true;
  }
  key.isComment = !key.name.empty() && key.name.front() == L';';
  key.line = s.lastText = index;
}

const IniFile::Section* IniFile::FindSection(std::wstring_view name) const {
  const auto found = sectionIndex_.find(Trim(name));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

std::optional<std::wstring_view> IniFile::FindValue(std::wstring_view section,
                                                    std::wstring_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  const auto found = s->keyIndex.find(Trim(key));
  if (found == s->keyIndex.end()) return std::nullopt;
  const Key& k = s->keys[found->second];
  if (!k.hasValue) return std::nullopt;
  return k.value;
}

ProfileEntries IniFile::SectionEntries(std::wstring_view section) const {
  ProfileEntries entries;
  const Section* s = FindSection(section);
  if (s == nullptr) return entries;
  entries.reserve(s->keys.size());
  for (const Key& k : s->keys) {
    if (!k.isComment) entries.emplace_back(k.name, k.value);
  }
  return entries;
}

std::string IniFile::BreakIfUnterminated(std::size_t lineIndex) const {
  const Line& line = lines_[lineIndex];
  return line.next == line.end ? lineBreak_ : std::string();
}

std::string IniFile::AppendSection(std::wstring_view section, const std::string& body) const {
  std::string out = bytes_;
  if (!lines_.empty()) out += BreakIfUnterminated(lines_.size() - 1);
  out += Encode(L"[" + std::wstring(TrimLeft(section)) + L"]") + lineBreak_ + body;
  return out;
}

// New lines carry names as given less leading white space, as the profile functions write them.
std::string IniFile::KeyLine(std::wstring_view key, std::wstring_view value) const {
  return Encode(std::wstring(TrimLeft(key)) + L"=" + std::wstring(TrimLeft(value)));
}

std::string IniFile::WithValue(std::wstring_view section, std::wstring_view key,
                               std::wstring_view value) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return AppendSection(section, KeyLine(key, value) + lineBreak_);
  const auto found = s->keyIndex.find(Trim(key));
  if (found == s->keyIndex.end()) {
    const std::size_t at = lines_[s->lastText].next;
    return ApplySplices(
        bytes_, {{at, at, BreakIfUnterminated(s->lastText) + KeyLine(key, value) + lineBreak_}});
  }
  const Key& k = s->keys[found->second];
  if (k.hasValue && k.value == TrimLeft(value)) return bytes_;
  const Line& line = lines_[k.line];
  return ApplySplices(bytes_, {{line.begin, line.end, KeyLine(k.name, value)}});
}

std::string IniFile::WithSection(std::wstring_view section, const ProfileEntries& entries) const {
  std::string body;
  for (const auto& [key, value] : entries) {
    body += KeyLine(key, value) + lineBreak_;
  }
  const Section* first = FindSection(section);
  if (first == nullptr) return AppendSection(section, body);
  std::vector<Splice> splices;
  for (const Section& s : sections_) {
    if (!SameProfileName(s.name, Trim(section))) continue;
    const std::size_t begin = s.hasHeader ? lines_[s.header].next : lines_[s.header].begin;
    const std::size_t end = s.hasHeader && s.lastText == s.header ? begin : lines_[s.lastText].next;
    std::string text;
    if (&s == first) text = (s.hasHeader ? BreakIfUnterminated(s.header) : std::string()) + body;
    splices.push_back({begin, end, std::move(text)});
  }
  return ApplySplices(bytes_, splices);
}

std::string IniFile::WithoutSection(std::wstring_view section) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return bytes_;
  const std::size_t begin = lines_[s->header].begin;
  const std::size_t end = s->end < lines_.size() ? lines_[s->end].begin : bytes_.size();
  return ApplySplices(bytes_, {{begin, end, std::string()}});
}

}  // namespace platform
