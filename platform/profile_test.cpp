// One table of profile-file cases. The same expectations hold for our own reader and writer
// and for the system's profile functions, so the two cannot drift apart.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/test_support.h"

namespace platform {
namespace {

// The bytes of the file at path; nothing when there is no file.
std::optional<std::string> FileBytes(const std::wstring& path) {
  if (!PathQuery(path)) return std::nullopt;
  return ReadWholeFile(path);
}

const std::string kBom = "\xEF\xBB\xBF";
const std::optional<std::string> kNoFile;

enum class Op { kString, kInt, kSection, kWrite, kWriteSection };

struct ProfileCase {
  const char* name;
  std::optional<std::string> file;  // the file before the call
  Op op;
  std::wstring section;
  std::wstring key;     // kWriteSection: the entries "k=v|k=v"; "" removes the section
  std::wstring value;   // the default (kInt: in digits) or the value written
  std::size_t buffer;   // kString only
  std::wstring expect;  // the answer; "ok" or "failed" for writes
  std::optional<std::string> after{};  // writes: the file after the call
};

const std::string kThree = "[A]\r\na=1\r\n[B]\r\nb=1\r\nb2=2\r\n[C]\r\nc=1\r\n";
const std::string kQuoted =
    "[S]\r\nd=\"quoted value\"\r\ns='single'\r\ntwice=\"\"x\"\"\r\n"
    "odd=\"x'\r\nlone=\"\r\ninner=a \"b\" c\r\ncut=\"abcdefghij\"\r\n"
    "edge=\"abc\"\r\nspaced=\" 12\"\r\n";
const std::string kNumbers =
    "[N]\r\ntrail= 12abc\r\nneg=-3\r\npos=+7\r\nhex=0x10\r\nword=abc\r\n"
    "empty=\r\nwrap=4294967297\r\nfrac=12.7\r\nminus= - 4\r\nbin=0b101\r\n"
    "oct=0o17\r\nneghex=-0x10\r\nbigx=0X10\r\nhexg=0x1g\r\nzero=012\r\n"
    "bare=0x\r\n";
const std::string kMixed =
    "top=above\r\n[S] ; note\r\n  key  =   some value  \r\n;k=1\r\nk=2\r\n"
    "k=3\r\nbare\r\nempty=\r\nlong=abcdefghij\r\neq=a=b\r\n[T]\r\n[S]\r\n"
    "later=x\r\n[ Spaced ]\r\nin=y\r\n";
const std::string kListed =
    "[S]\r\n k1 = v1 \r\n;comment\r\nk2=\"q\"\r\nbare\r\n\r\nk1=dup\r\n"
    "[T]\r\nx=1\r\n[s]\r\nk3=3\r\n";

const ProfileCase kCases[] = {
    // Lookups.
    {"names ignore case", kMixed, Op::kString, L"s", L"KEY", L"-", 256, L"some value"},
    {"asked names are trimmed", kMixed, Op::kString, L" S ", L" key ", L"-", 256, L"some value"},
    {"comment is no key", kMixed, Op::kString, L"S", L"k", L"-", 256, L"2"},
    {"comment line read by name", kMixed, Op::kString, L"S", L";k", L"-", 256, L"1"},
    {"duplicate key: first wins", kMixed, Op::kString, L"S", L"k", L"-", 256, L"2"},
    {"duplicate section: first only", kMixed, Op::kString, L"S", L"later", L"-", 256, L"-"},
    {"keys above the first header", kMixed, Op::kString, L"S", L"top", L"-", 256, L"-"},
    {"keys above the first header: nameless section", kMixed, Op::kString, L"", L"top", L"-", 256,
     L"above"},
    {"inner spaces of names count", "[S]\r\nmy  key = 1\r\n", Op::kString, L"S", L"my  key", L"-",
     256, L"1"},
    {"unclosed bracket is a key line", "[S]\r\n[T\r\nk=1\r\n", Op::kString, L"S", L"k", L"-", 256,
     L"1"},
    {"^Z counts as white space", "[A]\r\nk=v\x1a\r\n", Op::kString, L"A", L"k", L"-", 256, L"v"},
    {"line without '='", kMixed, Op::kString, L"S", L"bare", L"-", 256, L"-"},
    {"empty value", kMixed, Op::kString, L"S", L"empty", L"-", 256, L""},
    {"value holding '='", kMixed, Op::kString, L"S", L"eq", L"-", 256, L"a=b"},
    {"value cut at the buffer", kMixed, Op::kString, L"S", L"long", L"-", 5, L"abcd"},
    {"buffer of one", kMixed, Op::kString, L"S", L"long", L"-", 1, L""},
    {"header names are trimmed", kMixed, Op::kString, L"Spaced", L"in", L"-", 256, L"y"},
    {"missing key", kMixed, Op::kString, L"S", L"none", L"dflt", 256, L"dflt"},
    {"missing section", kMixed, Op::kString, L"X", L"k", L"dflt", 256, L"dflt"},
    {"missing file", kNoFile, Op::kString, L"S", L"k", L"dflt", 256, L"dflt"},
    {"default loses trailing spaces", kMixed, Op::kString, L"S", L"none", L" d  ", 256, L" d"},
    {"default cut at the buffer", kNoFile, Op::kString, L"S", L"k", L"default", 4, L"def"},
    {"line feeds alone", "[S]\nk=v\n", Op::kString, L"S", L"k", L"-", 256, L"v"},
    {"no final line break", "[S]\r\nk=v", Op::kString, L"S", L"k", L"-", 256, L"v"},
    // Quotes.
    {"double quotes", kQuoted, Op::kString, L"S", L"d", L"-", 256, L"quoted value"},
    {"single quotes", kQuoted, Op::kString, L"S", L"s", L"-", 256, L"single"},
    {"one pair only", kQuoted, Op::kString, L"S", L"twice", L"-", 256, L"\"x\""},
    {"mismatched quotes", kQuoted, Op::kString, L"S", L"odd", L"-", 256, L"\"x'"},
    {"lone quote", kQuoted, Op::kString, L"S", L"lone", L"-", 256, L"\""},
    {"inner quotes", kQuoted, Op::kString, L"S", L"inner", L"-", 256, L"a \"b\" c"},
    {"quoted value cut", kQuoted, Op::kString, L"S", L"cut", L"-", 5, L"abcd"},
    {"quoted value fills the buffer", kQuoted, Op::kString, L"S", L"edge", L"-", 4, L"ab"},
    {"spaces inside quotes", kQuoted, Op::kString, L"S", L"spaced", L"-", 256, L" 12"},
    // Encodings.
    {"UTF-8 with byte-order mark", kBom + "[S]\r\nk=\xC3\xA9t\xC3\xA9\r\n", Op::kString, L"S", L"k",
     L"-", 256, L"\u00e9t\u00e9"},
    {"UTF-16 file", Utf16FileBytes(u"[S]\r\nk=\u00e9\u4e2d\r\n"), Op::kString, L"s", L"K", L"-",
     256, L"\u00e9\u4e2d"},
    // Integers.
    {"integer: leading digits", kNumbers, Op::kInt, L"N", L"trail", L"5", 0, L"12"},
    {"integer: negative", kNumbers, Op::kInt, L"N", L"neg", L"5", 0, L"-3"},
    {"integer: plus sign", kNumbers, Op::kInt, L"N", L"pos", L"5", 0, L"7"},
    {"integer: hex prefix", kNumbers, Op::kInt, L"N", L"hex", L"5", 0, L"16"},
    {"integer: no digits", kNumbers, Op::kInt, L"N", L"word", L"5", 0, L"0"},
    {"integer: empty value", kNumbers, Op::kInt, L"N", L"empty", L"5", 0, L"5"},
    {"integer: missing key", kNumbers, Op::kInt, L"N", L"none", L"5", 0, L"5"},
    {"integer: wraps at 32 bits", kNumbers, Op::kInt, L"N", L"wrap", L"5", 0, L"1"},
    {"integer: binary prefix", kNumbers, Op::kInt, L"N", L"bin", L"5", 0, L"5"},
    {"integer: octal prefix", kNumbers, Op::kInt, L"N", L"oct", L"5", 0, L"15"},
    {"integer: negative hex", kNumbers, Op::kInt, L"N", L"neghex", L"5", 0, L"-16"},
    {"integer: upper-case X", kNumbers, Op::kInt, L"N", L"bigx", L"5", 0, L"0"},
    {"integer: hex stops at g", kNumbers, Op::kInt, L"N", L"hexg", L"5", 0, L"1"},
    {"integer: leading zero", kNumbers, Op::kInt, L"N", L"zero", L"5", 0, L"12"},
    {"integer: bare prefix", kNumbers, Op::kInt, L"N", L"bare", L"5", 0, L"0"},
    {"integer: fraction", kNumbers, Op::kInt, L"N", L"frac", L"5", 0, L"12"},
    {"integer: space after sign", kNumbers, Op::kInt, L"N", L"minus", L"5", 0, L"0"},
    {"integer: quoted spaces", kQuoted, Op::kInt, L"S", L"spaced", L"5", 0, L"12"},
    {"integer: missing file", kNoFile, Op::kInt, L"N", L"neg", L"-9", 0, L"-9"},
    // Whole sections.
    {"section listing", kListed, Op::kSection, L"s", L"", L"", 0, L"k1=v1|k2=\"q\"|bare=|k1=dup"},
    {"section listing: missing", kListed, Op::kSection, L"X", L"", L"", 0, L""},
    {"section listing: UTF-16", Utf16FileBytes(u"[S]\r\na=\u4e2d\r\nb=2\r\n"), Op::kSection, L"S",
     L"", L"", 0, L"a=\u4e2d|b=2"},
    {"section listing: bare lines", "[A]\r\nbare\r\n=x\r\n", Op::kSection, L"A", L"", L"", 0,
     L"bare=|=x"},
    {"section listing: nameless section", kMixed, Op::kSection, L"", L"", L"", 0, L"top=above"},
    // Writes.
    {"write creates the file", kNoFile, Op::kWrite, L"S", L"k", L"v", 0, L"ok", "[S]\r\nk=v\r\n"},
    {"write adds a key at the section's end", kThree, Op::kWrite, L"a", L"n", L"3", 0, L"ok",
     "[A]\r\na=1\r\nn=3\r\n[B]\r\nb=1\r\nb2=2\r\n[C]\r\nc=1\r\n"},
    {"write keeps the stored name", "[A]\r\nKey=1\r\n", Op::kWrite, L"a", L"KEY", L"2", 0, L"ok",
     "[A]\r\nKey=2\r\n"},
    {"write appends a section", kThree, Op::kWrite, L"D", L"d", L"4", 0, L"ok",
     kThree + "[D]\r\nd=4\r\n"},
    {"write drops leading spaces", "[A]\r\na=1\r\n", Op::kWrite, L"A", L"a", L"  v", 0, L"ok",
     "[A]\r\na=v\r\n"},
    {"write after an unterminated line", "[A]\r\na=1", Op::kWrite, L"A", L"b", L"2", 0, L"ok",
     "[A]\r\na=1\r\nb=2\r\n"},
    {"write keeps comments", "; head\r\n[A]\r\n;c\r\na=1\r\n", Op::kWrite, L"A", L"a", L"2", 0,
     L"ok", "; head\r\n[A]\r\n;c\r\na=2\r\n"},
    {"write keeps UTF-16", Utf16FileBytes(u"[A]\r\na=\u4e2d\r\n"), Op::kWrite, L"A", L"b",
     L"\u00e9", 0, L"ok", Utf16FileBytes(u"[A]\r\na=\u4e2d\r\nb=\u00e9\r\n")},
    {"write keeps the UTF-8 mark", kBom + "[A]\r\na=1\r\n", Op::kWrite, L"A", L"b", L"\u00e9", 0,
     L"ok", kBom + "[A]\r\na=1\r\nb=\xC3\xA9\r\n"},
    {"write to an empty file", "", Op::kWrite, L"A", L"k", L"v", 0, L"ok", "[A]\r\nk=v\r\n"},
    {"write of an unchanged value leaves the file", "[A]\r\n k = v \r\n", Op::kWrite, L"A", L"k",
     L"v", 0, L"ok", "[A]\r\n k = v \r\n"},
    {"write: new names lose leading spaces", "[A]\r\n", Op::kWrite, L" A ", L" k ", L" v ", 0,
     L"ok", "[A]\r\nk =v \r\n"},
    {"write: new section names too", "", Op::kWrite, L" A ", L" k ", L" v ", 0, L"ok",
     "[A ]\r\nk =v \r\n"},
    {"write refuses a line break", "[A]\r\na=1\r\n", Op::kWrite, L"A", L"a", L"x\r\n[B]", 0,
     L"failed", "[A]\r\na=1\r\n"},
    {"section removed between two others", kThree, Op::kWriteSection, L"b", L"", L"", 0, L"ok",
     "[A]\r\na=1\r\n[C]\r\nc=1\r\n"},
    {"last section removed", kThree, Op::kWriteSection, L"C", L"", L"", 0, L"ok",
     "[A]\r\na=1\r\n[B]\r\nb=1\r\nb2=2\r\n"},
    {"missing section removed", kThree, Op::kWriteSection, L"X", L"", L"", 0, L"ok", kThree},
    {"section removed from no file", kNoFile, Op::kWriteSection, L"X", L"", L"", 0, L"ok", kNoFile},
    {"section replaced", kThree, Op::kWriteSection, L"B", L"x=1|y= 2|x=3", L"", 0, L"ok",
     "[A]\r\na=1\r\n[B]\r\nx=1\r\ny=2\r\nx=3\r\n[C]\r\nc=1\r\n"},
    {"section written to a new file", kNoFile, Op::kWriteSection, L"F", L"k=v|e=", L"", 0, L"ok",
     "[F]\r\nk=v\r\ne=\r\n"},
    {"section appended", "[A]\r\na=1\r\n", Op::kWriteSection, L"F", L"k=v", L"", 0, L"ok",
     "[A]\r\na=1\r\n[F]\r\nk=v\r\n"},
    {"duplicate sections: the first replaced, the others emptied",
     "[A]\r\na=1\r\n[B]\r\n[A]\r\nx=2\r\n", Op::kWriteSection, L"A", L"k=v", L"", 0, L"ok",
     "[A]\r\nk=v\r\n[B]\r\n[A]\r\n"},
    {"duplicate sections: the first removed", "[A]\r\na=1\r\n[B]\r\n[A]\r\nx=2\r\n",
     Op::kWriteSection, L"A", L"", L"", 0, L"ok", "[B]\r\n[A]\r\nx=2\r\n"},
    {"section replaced with its comments", "[A]\r\n;c\r\na=1\r\n[B]\r\n", Op::kWriteSection, L"A",
     L"k=v", L"", 0, L"ok", "[A]\r\nk=v\r\n[B]\r\n"},
};

ProfileEntries ParseEntries(const std::wstring& text) {
  ProfileEntries entries;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(L'|', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring item = text.substr(start, end - start);
    const std::size_t equals = item.find(L'=');
    entries.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    start = end + 1;
  }
  return entries;
}

std::wstring JoinEntries(const ProfileEntries& entries) {
  std::wstring text;
  for (const auto& [key, value] : entries) {
    if (!text.empty()) text += L'|';
    text += key + L"=" + value;
  }
  return text;
}

std::wstring RunCase(const ProfileCase& c, const std::wstring& path) {
  auto status = [](bool ok) { return std::wstring(ok ? L"ok" : L"failed"); };
  switch (c.op) {
    case Op::kString:
      return ReadProfileString(c.section, c.key, c.value, c.buffer, path);
    case Op::kInt:
      return std::to_wstring(ReadProfileInt(c.section, c.key, std::stoi(c.value), path));
    case Op::kSection:
      return JoinEntries(ReadProfileSection(c.section, path));
    case Op::kWrite:
      return status(WriteProfileValue(c.section, c.key, c.value, path));
    case Op::kWriteSection:
      return status(WriteProfileEntries(c.section, ParseEntries(c.key), path));
  }
  return L"";
}

TEST(Profile, CaseTable) {
  ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  int index = 0;
  for (const ProfileCase& c : kCases) {
    SCOPED_TRACE(c.name);
    // A new name for each case: the system's profile functions keep files cached by name.
    const std::wstring path = dir.path() + L"case" + std::to_wstring(++index) + L".ini";
    if (c.file) {
      ASSERT_TRUE(WriteWholeFile(path, *c.file));
    }
    EXPECT_EQ(RunCase(c, path), c.expect);
    const bool writes = c.op == Op::kWrite || c.op == Op::kWriteSection;
    EXPECT_EQ(FileBytes(path), writes ? c.after : c.file);
  }
}

TEST(Profile, WrittenValuesReadBack) {
  ScopedTempDir dir;
  const std::wstring path = dir.path() + L"back.ini";
  ASSERT_TRUE(WriteProfileEntries(L"List", {{L"a", L"1"}, {L"b", L"\"two\""}}, path));
  ASSERT_TRUE(WriteProfileValue(L"Settings", L"LngFile", L"German.ini", path));
  ASSERT_TRUE(WriteProfileValue(L"settings", L"lngfile", L"French.ini", path));
  EXPECT_EQ(ReadProfileString(L"Settings", L"LngFile", L"", 256, path), L"French.ini");
  EXPECT_EQ(ReadProfileString(L"List", L"b", L"", 256, path), L"two");
  EXPECT_EQ(JoinEntries(ReadProfileSection(L"List", path)), L"a=1|b=\"two\"");
  ASSERT_TRUE(WriteProfileEntries(L"List", {}, path));
  EXPECT_EQ(ReadProfileString(L"List", L"a", L"gone", 256, path), L"gone");
  EXPECT_EQ(ReadProfileInt(L"Settings", L"LngFile", 7, path), 0);
}

TEST(Profile, WriteIntoMissingDirectoryFails) {
  ScopedTempDir dir;
  const std::wstring path = dir.path() + L"missing" + kSep + L"x.ini";
  EXPECT_FALSE(WriteProfileValue(L"S", L"k", L"v", path));
  EXPECT_FALSE(WriteProfileEntries(L"S", {{L"k", L"v"}}, path));
  EXPECT_FALSE(PathQuery(path));
}

// A UTF-16 file cut in the middle of a character: what is whole reads as ever, writes keep
// the half character as the last byte, and lists written after one another are all there.
TEST(Profile, OddLengthUtf16FileKeepsEveryList) {
  ScopedTempDir dir;
  const std::wstring path = dir.path() + L"odd.ini";
  const std::string old = Utf16FileBytes(u"[A]\r\na=1\r\n[B]\r\nb=2") + "\x33";
  ASSERT_TRUE(WriteWholeFile(path, old));
  EXPECT_EQ(JoinEntries(ReadProfileSection(L"B", path)), L"b=2");
  ASSERT_TRUE(WriteProfileEntries(L"A", {{L"a", L"x"}, {L"a2", L"y"}}, path));
  ASSERT_TRUE(WriteProfileEntries(L"C", {{L"c", L"3"}}, path));
  ASSERT_TRUE(WriteProfileEntries(L"D", {{L"d", L"4"}}, path));
  EXPECT_EQ(
      ReadWholeFile(path),
      Utf16FileBytes(u"[A]\r\na=x\r\na2=y\r\n[B]\r\nb=2\r\n[C]\r\nc=3\r\n[D]\r\nd=4\r\n") + "\x33");
  for (const wchar_t* list : {L"A", L"B", L"C", L"D"}) {
    EXPECT_FALSE(ReadProfileSection(list, path).empty()) << ToUtf8(list);
  }
}

}  // namespace
}  // namespace platform
