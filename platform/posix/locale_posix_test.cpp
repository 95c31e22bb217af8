#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/locale.h"

namespace {

class LocaleEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : kNames) unsetenv(name);
  }
  static void Set(const char* name, const char* value) { setenv(name, value, 1); }

  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
};

TEST_F(LocaleEnvironment, LanguageAndCountryFromLang) {
  Set("LANG", "zh_CN.UTF-8");
  EXPECT_EQ(platform::UserLanguageName(), L"zh");
  EXPECT_EQ(platform::UserCountryName(), L"CN");
}

TEST_F(LocaleEnvironment, FirstSetVariableWins) {
  Set("LANG", "de_DE.UTF-8");
  Set("LC_MESSAGES", "fr_CA@euro");
  EXPECT_EQ(platform::UserLanguageName(), L"fr");
  EXPECT_EQ(platform::UserCountryName(), L"CA");
  Set("LC_ALL", "pt_BR");
  EXPECT_EQ(platform::UserLanguageName(), L"pt");
  EXPECT_EQ(platform::UserCountryName(), L"BR");
  Set("LC_ALL", "");  // an empty variable counts as unset
  EXPECT_EQ(platform::UserLanguageName(), L"fr");
}

TEST_F(LocaleEnvironment, CPosixOrNothingIsUsEnglish) {
  for (const char* value : {"C", "POSIX", "C.UTF-8"}) {
    Set("LANG", value);
    EXPECT_EQ(platform::UserLanguageName(), L"en") << value;
    EXPECT_EQ(platform::UserCountryName(), L"US") << value;
  }
  unsetenv("LANG");
  EXPECT_EQ(platform::UserLanguageName(), L"en");
  EXPECT_EQ(platform::UserCountryName(), L"US");
}

TEST_F(LocaleEnvironment, LanguageWithoutCountry) {
  Set("LANG", "eo.UTF-8");
  EXPECT_EQ(platform::UserLanguageName(), L"eo");
  EXPECT_EQ(platform::UserCountryName(), L"");
}

}  // namespace
