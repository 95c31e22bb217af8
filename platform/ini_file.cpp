#include "platform/ini_file.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace platform {
namespace {

wchar_t FoldChar(wchar_t c) {
  const bool upper = (c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
                     (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F);
  if (upper) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 0x50);
  return c;
}

constexpr std::uint64_t kHashSeed = 14695981039346656037ull;

std::uint64_t Mix(std::uint64_t hash, wchar_t folded) {
  return (hash ^ static_cast<std::uint64_t>(static_cast<char32_t>(folded))) * 1099511628211ull;
}

// The multiplications carry each character's bits only upwards; this brings the high bits
// down into the slot number, so that names differing only in high bits of a character
// (beyond ASCII) do not all land in one run of slots.
std::uint64_t Finish(std::uint64_t hash) {
  hash ^= hash >> 29;
  hash *= 0xbf58476d1ce4e5b9ull;
  return hash ^ (hash >> 32);
}

// Every character of the name enters the hash, case folded as names are compared, so that
// no set of names, whatever their characters, shares one hash. Names in the file are hashed
// as the decoded text (hashing its bytes would split a double-byte character of an ANSI code
// page), so a name hashes alike in the file and in a request.
std::uint64_t NameHash(std::wstring_view name) {
  std::uint64_t hash = kHashSeed;
  for (wchar_t c : name) hash = Mix(hash, FoldChar(c));
  return Finish(hash);
}

}  // namespace

std::wstring_view TrimProfileSpace(std::wstring_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::wstring_view TrimProfileSpaceLeft(std::wstring_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  return text;
}

bool HasLineBreak(std::wstring_view text) {
  // One pass; find_first_of would search the set anew for every character.
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; });
}

bool HasLineBreak(std::wstring_view section, const ProfileEntries& entries) {
  return HasLineBreak(section) ||
         std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
           return HasLineBreak(entry.first) || HasLineBreak(entry.second);
         });
}

bool SameProfileName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  }
  return true;
}

IniFile::IniFile(std::string bytes) : bytes_(std::move(bytes)) { DetectEncodingAndParse(); }

IniFile::IniFile(std::string text, IniEncoding encoding) : bytes_(std::move(text)) {
  SetEncoding(encoding);
  ParseText();
}

void IniFile::SetEncoding(IniEncoding encoding) {
  encoding_ = encoding;
  unit_ = encoding == IniEncoding::kUtf16Le || encoding == IniEncoding::kUtf16Be ? 2 : 1;
}

void IniFile::DetectEncodingAndParse() {
  auto starts = [&](std::string_view mark) { return bytes_.starts_with(mark); };
  if (starts("\xEF\xBB\xBF")) {
    SetEncoding(IniEncoding::kUtf8Bom);
    textStart_ = 3;
  } else if (starts("\xFF\xFE")) {
    SetEncoding(IniEncoding::kUtf16Le);
    textStart_ = 2;
  } else if (starts("\xFE\xFF")) {
    SetEncoding(IniEncoding::kUtf16Be);
    textStart_ = 2;
  }
  ParseText();
}

void IniFile::ParseText() {
  lines_.reserve(std::count(bytes_.begin(), bytes_.end(), '\n') + 1);
  textEnd_ = textStart_ + (bytes_.size() - textStart_) / unit_ * unit_;
  SplitLines(textStart_, textEnd_);
  if (lineBreak_.empty()) lineBreak_ = Encode(L"\r\n");
  Parse();
}

std::size_t IniFile::FindUnit(std::size_t from, std::size_t to, char32_t c) const {
  if (from >= to) return to;
  if (unit_ == 1) {
    const void* found = std::memchr(bytes_.data() + from, static_cast<int>(c), to - from);
    return found == nullptr
               ? to
               : static_cast<std::size_t>(static_cast<const char*>(found) - bytes_.data());
  }
  while (from < to && Unit(from) != c) from += unit_;
  return from;
}

IniFile::Span IniFile::TrimmedLeft(Span span) const {
  while (span.begin < span.end && IsProfileSpace(Unit(span.begin))) span.begin += unit_;
  return span;
}

IniFile::Span IniFile::Trimmed(Span span) const {
  span = TrimmedLeft(span);
  while (span.end > span.begin && IsProfileSpace(Unit(span.end - unit_))) span.end -= unit_;
  return span;
}

std::wstring IniFile::Decode(Span span) const {
  if (unit_ == 1) {
    const std::string_view raw = std::string_view(bytes_).substr(span.begin, span.end - span.begin);
    // ASCII, nearly every name and value, stands for itself.
    const bool ascii = std::all_of(raw.begin(), raw.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return std::wstring(raw.begin(), raw.end());
    return encoding_ == IniEncoding::kUtf8Bom ? FromUtf8(raw) : FromSystemCodePage(raw);
  }
  std::wstring text;
  text.reserve((span.end - span.begin) / 2);
  for (std::size_t at = span.begin; at < span.end; at += 2) {
    char32_t c = Unit(at);
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c <= 0xDBFF && at + 2 < span.end) {
      const char32_t low = Unit(at + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    text += static_cast<wchar_t>(c);
  }
  return text;
}

std::uint64_t IniFile::HashOf(Span span) const {
  // ASCII, nearly every name, is hashed in place; it is the same in every encoding.
  std::uint64_t hash = kHashSeed;
  for (std::size_t at = span.begin; at < span.end; at += unit_) {
    const char32_t c = Unit(at);
    if (c >= 0x80) return NameHash(Decode(span));
    hash = Mix(hash, FoldChar(static_cast<wchar_t>(c)));
  }
  return Finish(hash);
}

bool IniFile::NameIs(Span span, std::wstring_view name) const {
  // Names are nearly always ASCII: compare them in place, decoding only the others.
  std::size_t i = 0;
  for (std::size_t at = span.begin; at < span.end; at += unit_, ++i) {
    const char32_t c = Unit(at);
    if (c >= 0x80) return SameProfileName(Decode(span), name);
    if (i >= name.size() || FoldChar(static_cast<wchar_t>(c)) != FoldChar(name[i])) return false;
  }
  return i == name.size();
}

void IniFile::SplitLines(std::size_t from, std::size_t usable) {
  std::size_t start = from;
  // The next '\n' at or after start; found once and kept while lines end before it.
  std::size_t newline = FindUnit(start, usable, '\n');
  while (start < usable) {
    if (newline < start) newline = FindUnit(start, usable, '\n');
    const std::size_t cr = FindUnit(start, newline, '\r');
    if (cr == usable) break;  // no break after start: newline and cr are both usable
    std::size_t next = cr + unit_;
    if (cr < newline && next == newline && newline < usable) next += unit_;  // CR LF
    if (lineBreak_.empty()) lineBreak_ = bytes_.substr(cr, next - cr);
    lines_.push_back({start, cr, next});
    start = next;
  }
  if (start < usable) lines_.push_back({start, usable, usable});  // ends without a break
}

void IniFile::Parse() {
  keys_.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) ParseLine(i);
  if (!sections_.empty()) sections_.back().end = lines_.size();
  BuildIndexes();
}

void IniFile::ParseLine(std::size_t index) {
  const Span text = Trimmed({lines_[index].begin, lines_[index].end});
  if (text.begin == text.end) return;
  if (Unit(text.begin) == '[') {
    std::size_t close = text.end - unit_;
    while (close > text.begin && Unit(close) != ']') close -= unit_;
    if (close > text.begin) {
      if (!sections_.empty()) sections_.back().end = index;
      Section& s = sections_.emplace_back();
      s.name = Trimmed({text.begin + unit_, close});
      s.header = s.lastText = index;
      s.hasHeader = true;
      s.firstKey = keys_.size();
      return;
    }
  }
  if (sections_.empty()) sections_.emplace_back().header = index;  // keys above any header
  Section& s = sections_.back();
  Key& key = keys_.emplace_back();
  ++s.keyCount;
  const std::size_t equals = FindUnit(text.begin, text.end, '=');
  key.name = Trimmed({text.begin, equals});
  // A line without '=' has an empty value at its end: a real place in the file, which moves
  // with the line when an edit before it carries the index over.
  key.value = {text.end, text.end};
  if (equals < text.end) {
    key.value = TrimmedLeft({equals + unit_, text.end});
    key.hasValue = true;
  }
  key.isComment = key.name.begin < key.name.end && Unit(key.name.begin) == ';';
  key.line = s.lastText = index;
}

void IniFile::NameTable::Build(std::size_t count) {
  std::size_t size = 8;
  while (size < 2 * count) size *= 2;
  slots_.assign(size, Slot());
}

void IniFile::NameTable::Insert(std::uint64_t hash, std::size_t position) {
  if (position >= UINT32_MAX) return;  // beyond any file that fits in memory
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(hash) & mask;
  while (slots_[i].position != 0) i = (i + 1) & mask;
  slots_[i] = {Tag(hash), static_cast<std::uint32_t>(position + 1)};
}

void IniFile::BuildIndexes() {
  sectionIndex_.Build(sections_.size());
  for (std::size_t i = 0; i < sections_.size(); ++i)
    sectionIndex_.Insert(HashOf(sections_[i].name), i);
}

const IniFile::NameTable& IniFile::KeyIndex(const Section& section) const {
  const std::lock_guard<std::mutex> hold(keyIndexLock_);
  if (!section.keyIndexBuilt) {
    section.keyIndex.Build(section.keyCount);
    for (std::size_t k = 0; k < section.keyCount; ++k) {
      section.keyIndex.Insert(HashOf(keys_[section.firstKey + k].name), k);
    }
    section.keyIndexBuilt = true;
  }
  return section.keyIndex;
}

const IniFile::Section* IniFile::FindSection(std::wstring_view name) const {
  name = TrimProfileSpace(name);
  const std::size_t found = sectionIndex_.Find(
      NameHash(name), [&](std::size_t i) { return NameIs(sections_[i].name, name); });
  return found == NameTable::npos ? nullptr : &sections_[found];
}

const IniFile::Key* IniFile::FindKey(const Section& section, std::wstring_view name) const {
  name = TrimProfileSpace(name);
  const std::size_t found = KeyIndex(section).Find(NameHash(name), [&](std::size_t k) {
    return NameIs(keys_[section.firstKey + k].name, name);
  });
  return found == NameTable::npos ? nullptr : &keys_[section.firstKey + found];
}

std::optional<std::wstring> IniFile::FindValue(std::wstring_view section,
                                               std::wstring_view key) const {
  const Section* s = FindSection(section);
  const Key* k = s == nullptr ? nullptr : FindKey(*s, key);
  if (k == nullptr || !k->hasValue) return std::nullopt;
  return Decode(k->value);
}

ProfileEntries IniFile::SectionEntries(std::wstring_view section) const {
  ProfileEntries entries;
  const Section* s = FindSection(section);
  if (s == nullptr) return entries;
  entries.reserve(s->keyCount);
  for (std::size_t i = s->firstKey; i < s->firstKey + s->keyCount; ++i) {
    const Key& k = keys_[i];
    if (!k.isComment) entries.emplace_back(Decode(k.name), Decode(k.value));
  }
  return entries;
}

}  // namespace platform
