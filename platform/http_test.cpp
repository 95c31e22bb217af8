// URL splitting gives the same parts from WinINet and from our own parser.
#include "platform/http.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

HttpUrl Cracked(const std::wstring& url) {
  HttpSession session(L"Sentiwalker Download");
  HttpUrl parts;
  EXPECT_TRUE(session.CrackUrl(url, parts)) << "does not parse";
  return parts;
}

TEST(HttpUrlTest, SplitsHostPortAndObjectWithQuery) {
  const HttpUrl url = Cracked(L"http://version.kivo9.example:8080/kivover/ver.htm?lang=en&x=1");
  EXPECT_TRUE(url.isHttp);
  EXPECT_EQ(url.host, L"version.kivo9.example");
  EXPECT_EQ(url.port, 8080);
  EXPECT_EQ(url.object, L"/kivover/ver.htm?lang=en&x=1");

  const HttpUrl bare = Cracked(L"HTTP://download.kivo9.example");
  EXPECT_TRUE(bare.isHttp);
  EXPECT_EQ(bare.port, 80);
  EXPECT_EQ(bare.object, L"/");
}

TEST(HttpUrlTest, CanonicalFormDropsFragmentAndEscapesBlanks) {
  const HttpUrl url = Cracked(L"http://h.example/a b/c.rar#part");
  EXPECT_EQ(url.object, L"/a%20b/c.rar");
  // A location header's carriage return is white space at the end, not part of the path.
  EXPECT_EQ(Cracked(L"http://h.example/pkg.rar\r").object, L"/pkg.rar");
}

TEST(HttpUrlTest, OtherSchemesParseButAreNotHttp) {
  EXPECT_FALSE(Cracked(L"https://h.example/").isHttp);
  EXPECT_FALSE(Cracked(L"ftp://h.example/a").isHttp);
  HttpSession session(L"Sentiwalker Download");
  HttpUrl parts;
  EXPECT_FALSE(session.CrackUrl(L"no url at all", parts));
  EXPECT_FALSE(session.CrackUrl(L"", parts));
}

}  // namespace
}  // namespace platform
