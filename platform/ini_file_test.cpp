// What our own INI code does beyond the shared case table: it edits files in place, so lines
// it does not touch keep their exact bytes, whatever their spacing, line ends or encoding.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "platform/test_support.h"
#include "platform/text.h"

namespace platform {
namespace {

const std::string kIrregular =
    "; settings of the browser\n"
    "[A]\n"
    "  a = 1 \t\n"
    "\xFF\xFE broken=bytes\n"
    "\n"
    "[B]\n"
    "b=1\n"
    "\n"
    "[C]\n"
    "c = 3";

TEST(IniFile, EditsKeepEveryOtherByte) {
  const IniFile file(kIrregular);
  EXPECT_EQ(file.WithValue(L"b", L"B", L"2"),
            "; settings of the browser\n[A]\n  a = 1 \t\n\xFF\xFE broken=bytes\n\n[B]\nb=2\n\n"
            "[C]\nc = 3");
  // A new key goes after the section's last line of text, before its blank lines.
  EXPECT_EQ(file.WithValue(L"A", L"n", L"x"),
            "; settings of the browser\n[A]\n  a = 1 \t\n\xFF\xFE broken=bytes\nn=x\n\n[B]\nb=1\n\n"
            "[C]\nc = 3");
  EXPECT_EQ(file.WithValue(L"C", L"d", L"4"), kIrregular + "\nd=4\n");
  EXPECT_EQ(file.WithoutSection(L"B"),
            "; settings of the browser\n[A]\n  a = 1 \t\n\xFF\xFE broken=bytes\n\n[C]\nc = 3");
  EXPECT_EQ(file.WithSection(L"A", {{L"k", L"v"}}),
            "; settings of the browser\n[A]\nk=v\n\n[B]\nb=1\n\n[C]\nc = 3");
  EXPECT_EQ(file.WithValue(L"A", L"a", L"1"), kIrregular);
}

TEST(IniFile, ReadsWhatItKeeps) {
  const IniFile file(kIrregular);
  ASSERT_TRUE(file.FindValue(L"A", L"a").has_value());
  EXPECT_EQ(*file.FindValue(L"A", L"a"), L"1");
  EXPECT_EQ(*file.FindValue(L"A", FromSystemCodePage("\xFF\xFE") + L" broken"), L"bytes");
  EXPECT_EQ(*file.FindValue(L"C", L"c"), L"3");
  EXPECT_FALSE(file.FindValue(L"", L"; settings of the browser").has_value());  // no '='
}

TEST(IniFile, UnmarkedTextIsInTheSystemCodePage) {
  const std::string e = ToSystemCodePage(L"\u00e9");  // UTF-8 on Linux, ANSI on Windows
  const IniFile file("[S" + e + "]\r\nk=" + e + "t" + e + "\r\n");
  EXPECT_EQ(file.Encoding(), IniEncoding::kCodePage);
  ASSERT_TRUE(file.FindValue(L"S\u00c9", L"K").has_value());
  EXPECT_EQ(*file.FindValue(L"S\u00c9", L"K"), L"\u00e9t\u00e9");
  EXPECT_EQ(file.WithValue(L"S\u00e9", L"n", L"\u00e9"),
            "[S" + e + "]\r\nk=" + e + "t" + e + "\r\nn=" + e + "\r\n");
}

TEST(IniFile, MarkedTextIsUtf8) {
  const IniFile file("\xEF\xBB\xBF[S\xC3\xA9]\r\nk=\xC3\xA9t\xC3\xA9\r\n");
  EXPECT_EQ(file.Encoding(), IniEncoding::kUtf8Bom);
  EXPECT_EQ(file.FindValue(L"S\u00c9", L"K").value_or(L"-"), L"\u00e9t\u00e9");
  EXPECT_EQ(file.WithValue(L"S\u00e9", L"n", L"\u4e2d"),
            "\xEF\xBB\xBF[S\xC3\xA9]\r\nk=\xC3\xA9t\xC3\xA9\r\nn=\xE4\xB8\xAD\r\n");
}

TEST(IniFile, BigEndianUtf16AndLoneCarriageReturns) {
  const std::string big("\xFE\xFF\0[\0S\0]\0\r\0k\0=\x4e\x2d\0\r", 18);
  const IniFile file(big);
  EXPECT_EQ(file.Encoding(), IniEncoding::kUtf16Be);
  ASSERT_TRUE(file.FindValue(L"s", L"k").has_value());
  EXPECT_EQ(*file.FindValue(L"s", L"k"), L"\u4e2d");
  EXPECT_EQ(file.WithValue(L"S", L"n", L"1"), big + std::string("\0n\0=\0"
                                                                "1\0\r",
                                                                8));
}

TEST(IniFile, MixedLineEndsInUtf8) {
  // CR, LF, CR LF and LF CR, and a lone CR as the file's last byte.
  const std::string mixed = "[S]\ra=1\r\nb=2\nc=3\n\rd=4\r";
  const IniFile file(mixed);
  const ProfileEntries expected = {{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}, {L"d", L"4"}};
  EXPECT_EQ(file.SectionEntries(L"s"), expected);
  // The first break of the file is the one new lines get.
  EXPECT_EQ(file.WithValue(L"S", L"e", L"5"), mixed + "e=5\r");
  EXPECT_EQ(file.WithValue(L"S", L"b", L"x"), "[S]\ra=1\r\nb=x\nc=3\n\rd=4\r");
}

TEST(IniFile, NamesFoldBeyondAscii) {
  EXPECT_TRUE(
      SameProfileName(L"\u00c4\u00d6X\u0416\u0401\u0391", L"\u00e4\u00f6x\u0436\u0451\u03b1"));
  EXPECT_FALSE(SameProfileName(L"\u00d7", L"\u00f7"));
  EXPECT_FALSE(SameProfileName(L"ab", L"abc"));
}

TEST(IniFile, SurrogatePairsSurviveUtf16) {
  const IniFile file(std::string("\xFF\xFE", 2));
  const std::string written = file.WithValue(L"S", L"k", L"\U0001F600");
  const IniFile reread(written);
  ASSERT_TRUE(reread.FindValue(L"S", L"k").has_value());
  EXPECT_EQ(*reread.FindValue(L"S", L"k"), L"\U0001F600");
}

TEST(IniFile, NamesSharingAHashStayApart) {
  // Names beyond ASCII that differ in one character, or only in case, found by their text.
  const IniFile file(
      "\xEF\xBB\xBF[S]\nk\xC3\x84=1\nk\xC3\x96=2\nK\xC3\xA4=3\n[\xC3\x84]\na=4\n[\xC3\x96]\na=5\n");
  EXPECT_EQ(file.FindValue(L"S", L"k\u00c4").value_or(L"-"), L"1");
  EXPECT_EQ(file.FindValue(L"S", L"k\u00d6").value_or(L"-"), L"2");
  EXPECT_EQ(file.FindValue(L"S", L"k\u00dc").value_or(L"-"), L"-");
  EXPECT_EQ(file.FindValue(L"\u00f6", L"a").value_or(L"-"), L"5");
}

TEST(IniFile, ManyKeysWithDuplicates) {
  std::string text = "[S]\n";
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3000; ++i)
      text += "key" + std::to_string(i) + "=" + std::to_string(round) + "\n";
  }
  const IniFile file(text);
  for (int i = 0; i < 3000; i += 7) {
    EXPECT_EQ(file.FindValue(L"s", L"KEY" + std::to_wstring(i)).value_or(L"-"), L"0");
  }
  EXPECT_FALSE(file.FindValue(L"S", L"key3000").has_value());
  EXPECT_EQ(file.SectionEntries(L"S").size(), 6000u);
}

// Thousands of names beyond ASCII, in UTF-8 and UTF-16, each found by its own text and case.
TEST(IniFile, ManyNamesBeyondAscii) {
  std::u16string text;
  for (int i = 0; i < 4000; ++i) {
    const std::string digits = std::to_string(i);
    const std::u16string n(digits.begin(), digits.end());
    text += u"[\u0424\u0438\u043b\u044c\u0442\u0440" + n + u"]\r\n\u043a" + n + u"=" + n +
            u"\r\n\u00e4=" + n + u"\r\n";
  }
  const std::wstring wide(text.begin(), text.end());
  for (const std::string& bytes : {Utf16FileBytes(text), "\xEF\xBB\xBF" + ToUtf8(wide)}) {
    const IniFile file(bytes);
    for (int i = 0; i < 4000; i += 3) {
      const std::wstring n = std::to_wstring(i);
      const std::wstring section = L"\u0444\u0418\u041b\u044c\u0442\u0440" + n;
      EXPECT_EQ(file.FindValue(section, L"\u041a" + n).value_or(L"-"), n);
      EXPECT_EQ(file.FindValue(section, L"\u00c4").value_or(L"-"), n);
      EXPECT_FALSE(file.FindValue(section, L"\u043a" + std::to_wstring(i + 1)).has_value());
    }
  }
}

// Replacing a section in a parsed file carries the index of the other lines over; the result
// must be the same file, in every lookup and every later edit, as parsing the new bytes anew.
TEST(IniFile, ReplacedSectionReadsAsAFreshParse) {
  const std::string files[] = {
      "[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n; note\r\n\r\nb2=2\r\n\r\n[C]\r\nc=1",
      "top=1\n[A]\n[B]\n  b = 1  \n[C]\nc=1\n[b]\nlater=2\n",
      "[A]\ra=1\r\n\n[B]\rb=1\r",  // first break a lone CR, an LF after the section
      std::string("\xFF\xFE[\0A\0]\0\r\0\n\0a\0=\0\x31\0\r\0\n\0[\0B\0]\0", 28),
      "[A]\r\na=1\r\n[B]",  // a header that ends the file
      // A header ending with a lone CR, a blank line of a lone LF after the section.
      "[Z]\r\n[A]\rx=1\n\n[B]\nb\n",
      // Sections the writes make shorter, with lines without '=' after them.
      "[A]\na=1\nb=2\nc=3\nd=4\ne=5\n[B]\nalone\nb=1\n[C]\n;x\nc\n",
      std::string("\xFF\xFE[\0A\0]\0\n\0a\0=\0\x31\0\n\0b\0\n\0[\0C\0]\0\n\0c\0", 32),
  };
  const ProfileEntries writes[] = {
      {{L"k", L"v"}, {L"  lead", L" spaced "}, {L";note", L"x"}},
      {{L"url1", L"x"}, {L"url2", L"y"}, {L"url3", L"z"}, {L"url4", L"w"}},
      {{L"[x]", L"looks like a header"}},
      {},
  };
  const wchar_t* const names[] = {L"A", L"b", L"C", L"", L"new"};
  for (const std::string& bytes : files) {
    const IniFile old(bytes);
    for (const ProfileEntries& entries : writes) {
      for (const wchar_t* section : names) {
        SCOPED_TRACE(testing::Message() << "file " << &bytes - files << ", section "
                                        << ToUtf8(section) << ", " << entries.size() << " entries");
        const IniFile replaced(old, section, entries);
        const IniFile parsed(old.WithSection(section, entries));
        ASSERT_EQ(replaced.Bytes(), parsed.Bytes());
        for (const wchar_t* probe : names) {
          EXPECT_EQ(replaced.SectionEntries(probe), parsed.SectionEntries(probe));
          for (const wchar_t* key : {L"a", L"B", L"c", L"k", L"lead", L"url4", L"later"}) {
            EXPECT_EQ(replaced.FindValue(probe, key), parsed.FindValue(probe, key));
          }
          EXPECT_EQ(replaced.WithValue(probe, L"n", L"1"), parsed.WithValue(probe, L"n", L"1"));
          EXPECT_EQ(replaced.WithValue(probe, L"c", L"2"), parsed.WithValue(probe, L"c", L"2"));
          EXPECT_EQ(replaced.WithoutSection(probe), parsed.WithoutSection(probe));
          EXPECT_EQ(IniFile(replaced, probe, {{L"z", L"9"}}).Bytes(),
                    parsed.WithSection(probe, {{L"z", L"9"}}));
        }
      }
    }
  }
}

}  // namespace
}  // namespace platform
