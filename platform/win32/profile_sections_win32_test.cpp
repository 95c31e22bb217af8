// Sections are read and written by our own INI code; the browser reads the same files with
// the Windows profile functions. These tests hold the two together on awkward files: what we
// read is what GetPrivateProfileSectionW gives, and what we write reads back through the
// profile functions exactly as a WritePrivateProfileSectionW would have left it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/test_support.h"

namespace platform {
namespace {

const std::string kFiles[] = {
    // Blanks around names and values, quotes, comments, lines without '=' or without a
    // name, an empty value, keys above the first header, and a section that comes twice.
    "  top = above \r\n[ Lists ]\r\n\tk1 = \" v1 \" \r\n;comment=1\r\nbare\r\n=x\r\nk2=\r\n"
    "K1=dup\r\n\r\n[other]\r\na='q'\r\n[lists]\r\nlater=1\r\n",
    // LF line ends, no break at the end, text after a header's ']', a header without one.
    "[A] tail\nx=1\ny = 2\n[B\nz=3\n[C]\nc=1",
    // ANSI text beyond ASCII.
    "[Lists]\r\nn\xE9=\xE9t\xE9\r\n[Caf\xE9]\r\nk=v\r\n",
    // Unicode after a byte-order mark.
    Utf16FileBytes(u"[Lists]\r\nk=\u4e2d\u6587\r\n[Other]\r\nk=2\r\n"),
    // A value longer than the 32,767 characters of one section read buffer.
    "[Lists]\r\nlong=" + std::string(40000, 'x') + "\r\nafter=1\r\n",
};

const wchar_t* const kSectionNames[] = {L"",  L"Lists", L"LISTS",     L"other",  L"A",
                                        L"B", L"C",     L"Caf\u00e9", L"missing"};

// The lines GetPrivateProfileSectionW gives, each split at its first '='.
ProfileEntries SystemSection(const std::wstring& section, const std::wstring& path) {
  std::vector<wchar_t> block(1 << 20);
  const DWORD used = GetPrivateProfileSectionW(section.c_str(), block.data(),
                                               static_cast<DWORD>(block.size()), path.c_str());
  ProfileEntries entries;
  for (DWORD start = 0; start < used;) {
    const std::wstring line(block.data() + start);
    const std::size_t equals = line.find(L'=');
    entries.emplace_back(line.substr(0, equals),
                         equals == std::wstring::npos ? L"" : line.substr(equals + 1));
    start += static_cast<DWORD>(line.size()) + 1;
  }
  return entries;
}

std::vector<std::wstring> SystemSectionNames(const std::wstring& path) {
  std::vector<wchar_t> block(1 << 16);
  const DWORD used =
      GetPrivateProfileSectionNamesW(block.data(), static_cast<DWORD>(block.size()), path.c_str());
  std::vector<std::wstring> names;
  for (DWORD start = 0; start < used; start += static_cast<DWORD>(names.back().size()) + 1) {
    names.emplace_back(block.data() + start);
  }
  return names;
}

class ProfileSections : public ::testing::Test {
 protected:
  // A new name for every file: the system's profile functions keep files cached by name.
  std::wstring NewFile(const std::string& bytes) {
    const std::wstring path = dir_.path() + L"f" + std::to_wstring(++count_) + L".ini";
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  ScopedTempDir dir_;
  int count_ = 0;
};

TEST_F(ProfileSections, ReadAsTheSystemReadsThem) {
  for (const std::string& bytes : kFiles) {
    const std::wstring path = NewFile(bytes);
    for (const wchar_t* section : kSectionNames) {
      SCOPED_TRACE(testing::Message() << "file " << count_ << ", section " << ToUtf8(section));
      const ProfileEntries system = SystemSection(section, path);
      EXPECT_EQ(ReadProfileSection(section, path), system);
      ProfileEntries streamed;
      EXPECT_TRUE(StreamProfileSection(
          section, path,
          [&](std::wstring_view k, std::wstring_view v) { streamed.emplace_back(k, v); }));
      EXPECT_EQ(streamed, system);
    }
  }
}

TEST_F(ProfileSections, WrittenAsTheSystemWritesThem) {
  const ProfileEntries kWrites[] = {
      {{L"url1", L"||ads.example.com^"}, {L" lead", L"  spaced  "}, {L"q", L"\"quoted\""}},
      {{L"n\u00e9", L"\u00e9t\u00e9"}, {L"empty", L""}, {L"url1", L"again"}},
      {},  // removes the section
  };
  for (const std::string& bytes : kFiles) {
    for (const ProfileEntries& entries : kWrites) {
      for (const wchar_t* section : {L"Lists", L"other", L"New"}) {
        const std::wstring ours = NewFile(bytes);
        const std::wstring theirs = NewFile(bytes);
        SCOPED_TRACE(testing::Message() << "file " << count_ << ", section " << ToUtf8(section)
                                        << ", " << entries.size() << " entries");
        std::wstring block;
        for (const auto& [key, value] : entries) block += key + L"=" + value + L'\0';
        block += L'\0';
        ASSERT_TRUE(WriteProfileEntries(section, entries, ours));
        ASSERT_TRUE(WritePrivateProfileSectionW(section, entries.empty() ? nullptr : block.c_str(),
                                                theirs.c_str()));
        const std::vector<std::wstring> names = SystemSectionNames(theirs);
        EXPECT_EQ(SystemSectionNames(ours), names);
        for (const std::wstring& name : names) {
          EXPECT_EQ(SystemSection(name, ours), SystemSection(name, theirs)) << ToUtf8(name);
        }
        EXPECT_EQ(ReadProfileString(section, L"url1", L"-", 64, ours),
                  ReadProfileString(section, L"url1", L"-", 64, theirs));
      }
    }
  }
}

// Sets the file's last write time to a fixed moment.
void SetWriteTime(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const FILETIME moment{0x12345678, 0x01d00000};
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &moment));
  CloseHandle(file);
}

TEST_F(ProfileSections, ChangesByOthersAreSeen) {
  auto value = [&](const std::wstring& path) {
    return ReadProfileSection(L"L", path).at(0).second;
  };
  const std::wstring path = NewFile("[L]\r\nk=1\r\n");
  SetWriteTime(path);
  EXPECT_EQ(value(path), L"1");
  // Same size, rewritten in place: only the write time tells.
  ASSERT_TRUE(WriteWholeFile(path, "[L]\r\nk=2\r\n"));
  EXPECT_EQ(value(path), L"2");
  // Same size and time, but another file renamed over it.
  SetWriteTime(path);
  EXPECT_EQ(value(path), L"2");
  const std::wstring other = NewFile("[L]\r\nk=3\r\n");
  SetWriteTime(other);
  ASSERT_TRUE(MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(value(path), L"3");
  // Our own write is kept for the next read; a change by others after it still shows.
  ASSERT_TRUE(WriteProfileEntries(L"L", {{L"k", L"4"}}, path));
  EXPECT_EQ(value(path), L"4");
  ASSERT_TRUE(WriteWholeFile(path, "[L]\r\nk=5\r\n"));
  EXPECT_EQ(value(path), L"5");
}

TEST_F(ProfileSections, AReplacedFileKeepsItsAttributes) {
  const std::wstring path = NewFile("[Lists]\r\nurl1=mine\r\n");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(WriteProfileEntries(L"Lists", {{L"url1", L"theirs"}}, path));
  EXPECT_EQ(ReadWholeFile(path), "[Lists]\r\nurl1=theirs\r\n");
  EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST_F(ProfileSections, AReadOnlyFileIsNotReplaced) {
  const std::string bytes = "[Lists]\r\nurl1=mine\r\n";
  const std::wstring path = NewFile(bytes);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteProfileEntries(L"Lists", {{L"url1", L"theirs"}}, path));
  EXPECT_FALSE(WriteProfileEntries(L"Lists", {}, path));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadWholeFile(path), bytes);
}

}  // namespace
}  // namespace platform
