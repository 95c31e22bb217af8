#include "platform/ini_section_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::IniFile;
using platform::IniSectionStream;
using platform::ProfileEntries;

ProfileEntries Streamed(const std::string& bytes, const std::wstring& section, std::size_t piece) {
  ProfileEntries lines;
  IniSectionStream stream(section, [&](std::wstring_view key, std::wstring_view value) {
    lines.emplace_back(key, value);
  });
  bool more = true;
  for (std::size_t at = 0; more && at < bytes.size(); at += piece) {
    more = stream.Feed(std::string_view(bytes).substr(at, piece));
  }
  if (more) stream.Finish();
  return lines;
}

std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

// Every piece size gives the lines of a parse of the whole file, for every section name.
TEST(IniSectionStream, GivesTheSectionOfAWholeParseWhereverThePiecesEnd) {
  const std::string text =
      "head=1\r\n;c\r\n[A]\r\n k = v \r\nbare\r\n=x\r\n\r\n[b]x\r\nk=2\n[A]\rk=again\r"
      "[C\r\nno=close\r\n[]\nempty=1\n[ \xC3\xA9t\xC3\xA9 ]\nk='q'";
  const std::vector<std::string> files = {
      text,
      "\xEF\xBB\xBF" + text,
      "\n\n[A]\nk=1",                  // blank lines before the first header
      "\n\nk=head\n[A]\nk=1\n",        // keys above the first header, after blank lines
      "[A]\r\r\rk=1\r\r[B]\rk=2",      // CR alone ends lines
      "[A]\r\nk=1\r\n[A]\r\nk=2\r\n",  // only the first of two sections counts
      Utf16(u"[A]\r\nk=\u00e9\U0001F600\r\n[B]\r\nk=2", false),
      Utf16(u"k=0\n[A]\nk=1\n[B]", true),
      Utf16(u"[A]\nk=1\nj=2", false) + "\x41",  // odd length: the last half unit is no text
      "\xFF\xFE",
      "[",
      "",
  };
  const std::vector<std::wstring> sections = {L"A", L"a", L" A ",           L"b",   L"B",
                                              L"C", L"",  L"\u00e9t\u00e9", L"none"};
  for (std::size_t f = 0; f < files.size(); ++f) {
    const IniFile whole(files[f]);
    for (const std::wstring& section : sections) {
      for (const std::size_t piece : {1, 2, 3, 5, 64, 1 << 20}) {
        ASSERT_EQ(Streamed(files[f], section, piece), whole.SectionEntries(section))
            << "file " << f << ", section '" << std::string(section.begin(), section.end())
            << "', pieces of " << piece;
      }
    }
  }
}

TEST(IniSectionStream, StopsAtTheEndOfTheSection) {
  IniSectionStream stream(L"A", [](std::wstring_view, std::wstring_view) {});
  EXPECT_TRUE(stream.Feed("[A]\nk=1\n"));
  EXPECT_FALSE(stream.Feed("[B]\n"));
  EXPECT_FALSE(stream.Feed("[A]\n"));
}

}  // namespace
