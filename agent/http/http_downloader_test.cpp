// The download client against the scripted loopback server (tests/server). The ctest entry
// "http_downloader" starts the server around this program; run alone, these tests skip.
#include "agent/http/http_downloader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "agent/http/block_file_sink.h"
#include "agent/http/checked_body_sink.h"
#include "agent/http/response_head.h"
#include "platform/crypto.h"
#include "platform/http.h"
#include "platform/test_support.h"
#include "platform/text.h"
#include "tests/server/loopback_server.h"

namespace {

using Request = LoopbackServer::Request;

std::string Env(const char* name) { return LoopbackServer::Env(name); }

// The CRT of Windows writes line breaks as CRLF to standard streams; compare by lines.
std::string WithoutCarriageReturnsBeforeLineFeeds(const std::string& text) {
  return LoopbackServer::Replaced(text, "\r\n", "\n");
}

// What one call wrote to standard output and standard error.
struct Streams {
  std::string out;
  std::string err;
};

// One standard stream sent into a file for a while. The stream is reopened on the file, so
// that output of either width works whatever the test framework wrote to it before.
class RedirectedStream {
 public:
  RedirectedStream(FILE* stream, const std::wstring& path)
      : stream_(stream), path_(platform::ToSystemCodePage(path)) {
    std::fflush(stream_);
    saved_ = dup(fileno(stream_));
    redirected_ = std::freopen(path_.c_str(), "w", stream_) != nullptr;
  }
  ~RedirectedStream() { Restore(); }
  RedirectedStream(const RedirectedStream&) = delete;
  RedirectedStream& operator=(const RedirectedStream&) = delete;

  // Ends the redirection and returns what was written, line breaks as "\n".
  std::string Finish() {
    Restore();
    std::string text;
    if (FILE* file = std::fopen(path_.c_str(), "r")) {
      for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
      std::fclose(file);
    }
    return WithoutCarriageReturnsBeforeLineFeeds(text);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stream_);
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
    // Where the C library keeps a stream's width (glibc), wide output would leave it unusable
    // for the framework's narrow output; reopening the same descriptor clears it.
    if (redirected_ && std::fwide(stream_, 0) > 0) std::freopen(nullptr, "a", stream_);
  }

  FILE* stream_;
  std::string path_;
  int saved_ = -1;
  bool redirected_ = false;
};

class HttpDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = LoopbackServer::Port();
    if (port_.empty()) {
      GTEST_SKIP() << "needs the loopback server: run through tests/server/run_with_server.py "
                      "(ctest entry http_downloader)";
    }
    ASSERT_FALSE(dir_.path().empty());
  }

  // Installs routes (the inside of the "routes" object); "@PORT@" stands for the port.
  void Serve(const std::string& routes) { ASSERT_TRUE(server_.Serve(routes)); }

  std::wstring Url(const std::string& path) const {
    return platform::FromUtf8("http://127.0.0.1:" + port_ + path);
  }
  std::wstring Target() const { return dir_.path() + L"package.rar"; }

  // Runs a fetch with both streams captured; the requests it caused land in requests_.
  Streams Run(const std::function<void()>& fetch) {
    server_.MarkLog();
    Streams streams;
    {
      RedirectedStream out(stdout, dir_.path() + L"out.txt");
      RedirectedStream err(stderr, dir_.path() + L"err.txt");
      fetch();
      streams.err = err.Finish();
      streams.out = out.Finish();
    }
    requests_ = server_.Requests();
    return streams;
  }

  int FetchFile(const std::string& path, Streams& streams) {
    int result = -1;
    streams = Run([&] { result = CHttpDownloader().DownloadToFile(Url(path), Target()); });
    return result;
  }

  std::wstring FetchText(const std::wstring& url, Streams& streams) {
    std::wstring text;
    streams = Run([&] { text = CHttpDownloader().DownloadToString(url); });
    return text;
  }

  // The request carries the fixed header block, the host and the no-cache pragma; nothing else.
  void ExpectFixedHeaders(const Request& request) {
    std::vector<std::string> names;
    for (const std::string& header : request.headers) {
      names.push_back(header.substr(0, header.find(':')));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Accept", "Host", "Pragma", "User-Agent"}));
    EXPECT_NE(std::find(request.headers.begin(), request.headers.end(), "Accept: */*"),
              request.headers.end());
    EXPECT_NE(std::find(request.headers.begin(), request.headers.end(), "User-Agent: Corvane2"),
              request.headers.end());
    EXPECT_NE(std::find(request.headers.begin(), request.headers.end(), "Pragma: no-cache"),
              request.headers.end());
  }

  platform::ScopedTempDir dir_;
  LoopbackServer server_;
  std::string port_;
  std::vector<Request> requests_;
};

TEST_F(HttpDownloaderTest, SendsOneFixedGetRequestAndReturnsTheBody) {
  Serve(R"("*/ver.htm?lang=en&x=1": [{"body": "Kivo9Version:9.1.2:Kivo9VersionEnd"}])");
  Streams streams;
  EXPECT_EQ(FetchText(Url("/ver.htm?lang=en&x=1"), streams), L"Kivo9Version:9.1.2:Kivo9VersionEnd");
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].line, "GET /ver.htm?lang=en&x=1 HTTP/1.0");
  ExpectFixedHeaders(requests_[0]);
  EXPECT_EQ(streams.out, "");
  EXPECT_EQ(streams.err, "");
}

TEST_F(HttpDownloaderTest, RefusesUrlsThatAreNotHttpWithoutTouchingTheTarget) {
  Serve("");
  ASSERT_TRUE(platform::WriteWholeFile(Target(), "old package"));
  const std::vector<std::wstring> urls = {L"https://127.0.0.1:" + platform::FromUtf8(port_) + L"/a",
                                          L"ftp://example.org/a", L"no url", L""};
  for (const std::wstring& url : urls) {
    int result = -1;
    const Streams streams = Run([&] { result = CHttpDownloader().DownloadToFile(url, Target()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(streams.err, "Error: can only use URLs beginning with http://\n");
    EXPECT_EQ(streams.out, "");
    EXPECT_TRUE(requests_.empty());
  }
  EXPECT_EQ(platform::ReadWholeFile(Target()), "old package");
}

TEST_F(HttpDownloaderTest, UnacceptedStatusFailsWithItsLineAndNoFile) {
  Serve(R"("*/missing": [{"status": 404, "body": "not here"}],
           "*/broken": [{"status": 500, "body": "oops"}],
           "*/secret": [{"status": 401, "body": "who?"}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/missing", streams), 0);
  EXPECT_EQ(streams.err, "Status Code of Download is 404\n");
  EXPECT_FALSE(platform::PathQuery(Target()));
  EXPECT_EQ(FetchText(Url("/broken"), streams), L"");
  EXPECT_EQ(streams.err, "Status Code of Download is 500\n");
  EXPECT_EQ(FetchFile("/secret", streams), 0);
  EXPECT_EQ(streams.err, "Access denied: Need password\n");
  EXPECT_EQ(requests_.size(), 1u) << "no second attempt after 401";
  EXPECT_FALSE(platform::PathQuery(Target()));
}

TEST_F(HttpDownloaderTest, BodiesOfEverySizeArriveWhole) {
  Serve(R"("*/empty": [{"body": ""}],
           "*/exact": [{"body_size": 1024, "body_fill": "k"}],
           "*/odd": [{"body_size": 5000, "body_fill": "0123456789abcdefg"}],
           "*/binary": [{"body_hex": "00ff0d0a001a"}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/empty", streams), 0) << "nothing stored";
  EXPECT_TRUE(platform::PathQuery(Target()));
  EXPECT_EQ(platform::ReadWholeFile(Target()), "");
  EXPECT_EQ(FetchFile("/exact", streams), 1);
  EXPECT_EQ(platform::ReadWholeFile(Target()), std::string(1024, 'k'));
  EXPECT_EQ(FetchFile("/odd", streams), 1);
  std::string odd;
  for (int i = 0; i < 5000; ++i) odd += "0123456789abcdefg"[i % 17];
  EXPECT_EQ(platform::ReadWholeFile(Target()), odd);
  EXPECT_EQ(FetchFile("/binary", streams), 1);
  EXPECT_EQ(platform::ReadWholeFile(Target()), std::string("\0\xff\r\n\0\x1a", 6));
  EXPECT_EQ(streams.err + streams.out, "");
}

TEST_F(HttpDownloaderTest, BodyCutShortOfItsDeclaredLengthIsAFailure) {
  Serve(R"("*/cut": [{"body_size": 3000, "body_fill": "c", "truncate_to": 1500}],
           "*/cut-text": [{"body": "Kivo9Version:9.1.2", "content_length": 40}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/cut", streams), 0);
  EXPECT_EQ(platform::ReadWholeFile(Target()), std::string(1500, 'c')) << "left as received";
  EXPECT_EQ(FetchText(Url("/cut-text"), streams), L"Kivo9Version:9.1.2")
      << "the text keeps what arrived";
}

TEST_F(HttpDownloaderTest, TextIsDecodedAsAWholeAndZeroBytesAreDropped) {
  // "é" in UTF-8 straddles the first 1024-byte chunk; a zero byte sits inside the second.
  const std::string bytes = std::string(1023, 'a') + "\xc3\xa9" + "b" + std::string(1, '\0') + "cd";
  std::string hex;
  for (unsigned char c : bytes) {
    static const char kHex[] = "0123456789abcdef";
    hex += {kHex[c >> 4], kHex[c & 15]};
  }
  Serve(R"("*/page": [{"body_hex": ")" + hex + R"("}])");
  Streams streams;
  const std::wstring expected =
      platform::FromSystemCodePage(std::string(1023, 'a') + "\xc3\xa9" + "bcd");
  EXPECT_EQ(FetchText(Url("/page"), streams), expected);
}

// What each sink takes and refuses is tested by feeding it bytes (sinks_test.cpp); here the
// client ends the transfer at the refusal and a composed file sink keeps what it passed.
TEST_F(HttpDownloaderTest, SinksTakeNoMoreThanTheirBoundsAndCheckWhatTheyKeep) {
  Serve(R"("*/endless": [{"body_size": 100000000000, "body_fill": "p", "content_length": false}],
           "*/two-lengths": [{"headers": [["Content-Length", "10"], ["Content-Length", "20"]],
                              "body_size": 20}],
           "*/pkg": [{"body_size": 3000, "body_fill": "c"}])");
  CHttpDownloader pages;
  std::wstring text;
  Streams streams = Run([&] { text = pages.DownloadToString(Url("/endless")); });
  EXPECT_EQ(text, std::wstring(TextSink::kPageLimitBytes, L'p'));
  EXPECT_EQ(streams.err, "") << "the caller reports a refusal";
  TextSink page;
  FetchOutcome fetched;
  streams = Run([&] { fetched = pages.Fetch(Url("/endless"), page, TransferLimits::Page()); });
  EXPECT_EQ(fetched.refusal.why(), "the page is longer than 65536 bytes");
  EXPECT_EQ(streams.err, "") << "the caller reports a refusal";
  EXPECT_EQ(FetchFile("/two-lengths", streams), 0);
  EXPECT_EQ(streams.err, "Error: the answer declares two different lengths\n");
  EXPECT_FALSE(platform::PathQuery(Target()));

  platform::Sha256 hash;
  hash.Update(std::string(3000, 'c').data(), 3000);
  const platform::Sha256Digest digest = hash.Finish();
  const auto fetchChecked = [&](const char* path, const ExpectedFile& expected) {
    BlockFileSink file(Target());
    CheckedBodySink checked(file, UINT64_MAX, expected);
    FetchOutcome fetched;
    CHttpDownloader downloader;
    streams = Run([&] { fetched = downloader.Fetch(Url(path), checked, TransferLimits::File()); });
    return std::make_pair(fetched.stored ? 1 : 0, fetched.refusal.why());
  };
  EXPECT_EQ(fetchChecked("/pkg", {3000, digest}), std::make_pair(1, std::string()));
  EXPECT_EQ(platform::ReadWholeFile(Target()), std::string(3000, 'c'));
  EXPECT_EQ(fetchChecked("/endless", {5000, digest}),
            std::make_pair(0, std::string("longer than the signed 5000 bytes")));
  EXPECT_EQ(platform::ReadWholeFile(Target()).size(), 5000u) << "cut where the signed size ends";
}

TEST_F(HttpDownloaderTest, ADrippingServerCannotHoldAFetch) {
  // WinINet reads until its buffer is full, libcurl hands on every byte: the bounds hold for
  // both, whether checked after one byte or after a whole chunk.
  Serve(R"("*/drip": [{"body_size": 100000, "drip_ms": 2}])");
  using std::chrono::milliseconds;
  TextSink page;
  CHttpDownloader downloader;
  TransferLimits pageLimits = TransferLimits::Page();
  pageLimits.deadline = milliseconds(300);
  FetchOutcome fetched;
  Streams streams = Run([&] { fetched = downloader.Fetch(Url("/drip"), page, pageLimits); });
  EXPECT_FALSE(fetched.stored);
  EXPECT_EQ(fetched.refusal.why(), "the page did not end within 300 ms");
  EXPECT_LE(page.Bytes().size(), 1024u);
  BlockFileSink file(Target());
  TransferLimits fileLimits = TransferLimits::File();
  fileLimits.floor = RateFloor{4096, milliseconds(500)};
  streams = Run([&] { fetched = downloader.Fetch(Url("/drip"), file, fileLimits); });
  EXPECT_FALSE(fetched.stored);
  EXPECT_EQ(fetched.refusal.why(), "slower than 4096 bytes in 500 ms");
  // Before any body: a server that says nothing, or drips its head, is held to it too.
  Serve(R"("*/silent": [{"delay_ms": 3000, "body": "late"}],
           "*/head": [{"raw": "HTTP/1.0 200 OK\r\nX-Pad: 0123456789\r\n\r\nlate", "drip_ms": 50}])");
  for (const char* path : {"/silent", "/head"}) {
    TextSink late;
    streams = Run([&] { fetched = downloader.Fetch(Url(path), late, pageLimits); });
    EXPECT_FALSE(fetched.stored) << path;
    EXPECT_EQ(fetched.refusal.why(), "the page did not end within 300 ms") << path;
    EXPECT_EQ(late.Bytes(), "") << path;
  }
}

TEST_F(HttpDownloaderTest, OneObjectServesSeveralTextFetches) {
  Serve(R"("*/first": [{"body": "one"}], "*/second": [{"status": 404}])");
  CHttpDownloader downloader;
  std::wstring first;
  std::wstring second;
  Run([&] {
    first = downloader.DownloadToString(Url("/first"));
    second = downloader.DownloadToString(Url("/second"));
  });
  EXPECT_EQ(first, L"one");
  EXPECT_EQ(second, L"") << "the text starts empty for every fetch";
}

TEST_F(HttpDownloaderTest, RedirectWithoutAnyLocationFails) {
  Serve(R"("*/nowhere": [{"status": 302, "body": "moved"}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/nowhere", streams), 0);
  EXPECT_EQ(streams.err, "Error: Site redirects with no new location\n");
  EXPECT_FALSE(platform::PathQuery(Target()));
}

// WinINet follows redirect answers itself (the request flags allow it): the loop of the
// client sees them only off Windows. There the library's own following is checked instead.
class RedirectTest : public HttpDownloaderTest {
 protected:
  bool ClientFollowsRedirects() const { return !platform::HttpFollowsRedirectsItself(); }
};

TEST_F(RedirectTest, FollowsRedirectsWithOneStatusLineEach) {
  Serve(R"("*/r1": [{"status": 301, "headers": [["Location", "http://127.0.0.1:@PORT@/r2"]]}],
           "*/r2": [{"status": 303, "headers": [["Location", "http://127.0.0.1:@PORT@/r3"]]}],
           "*/r3": [{"status": 302, "headers": [["Location", "http://127.0.0.1:@PORT@/pkg"]]}],
           "*/pkg": [{"body": "package"}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/r1", streams), 1);
  EXPECT_EQ(platform::ReadWholeFile(Target()), "package");
  ASSERT_EQ(requests_.size(), 4u);
  EXPECT_EQ(requests_[3].line, "GET /pkg HTTP/1.0");
  ExpectFixedHeaders(requests_[3]);
  if (!ClientFollowsRedirects()) {
    std::printf(
        "[ NOTE     ] WinINet followed the redirects itself; the client's own loop "
        "and its status lines are checked off Windows\n");
    return;
  }
  EXPECT_EQ(streams.err,
            "Status Code of Download is 303\nStatus Code of Download is 302\n"
            "Status Code of Download is 200\n");
}

TEST_F(RedirectTest, LocationMustBeSpelledExactly) {
  if (!ClientFollowsRedirects()) GTEST_SKIP() << "WinINet follows any spelling itself";
  Serve(R"("*/lower": [{"status": 302, "headers": [["location", "http://127.0.0.1:@PORT@/x"]]}],
           "*/https": [{"status": 302, "headers": [["Location", "https://127.0.0.1/x"]]}],
           "*/garbage": [{"status": 302, "headers": [["Location", "::no url::"]]}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/lower", streams), 0);
  EXPECT_EQ(streams.err, "Error: Site redirects with no new location\n");
  EXPECT_EQ(FetchFile("/https", streams), 0);
  EXPECT_EQ(streams.err, "Error: the redirected URL does not reference a HTTP resource.\n");
  EXPECT_EQ(FetchFile("/garbage", streams), 0);
  EXPECT_EQ(streams.err, "Error: the redirected URL could not be parsed.\n");
  EXPECT_FALSE(platform::PathQuery(Target()));
}

TEST_F(RedirectTest, TenRedirectsAreFollowedAndAnEleventhIsNoPackage) {
  if (!ClientFollowsRedirects()) GTEST_SKIP() << "WinINet counts redirects itself";
  const std::string hop = R"({"status": 302, "body": "hop",
                              "headers": [["Location", "http://127.0.0.1:@PORT@/loop"]]})";
  std::string hops = hop;
  for (int i = 1; i < 9; ++i) hops += ", " + hop;
  Serve(R"("*/ten": [{"status": 302, "headers": [["Location", "http://127.0.0.1:@PORT@/loop"]]}],
           "*/loop": [)" +
        hops + R"(, {"body": "package"}])");
  std::string tenLines;
  for (int i = 0; i < 9; ++i) tenLines += "Status Code of Download is 302\n";
  Streams streams;
  EXPECT_EQ(FetchFile("/ten", streams), 1);
  EXPECT_EQ(streams.err, tenLines + "Status Code of Download is 200\n");
  EXPECT_EQ(requests_.size(), 11u);

  ASSERT_TRUE(platform::RemoveFile(Target()));
  Serve(R"("*/eleven": [{"status": 302, "headers": [["Location", "http://127.0.0.1:@PORT@/loop"]]}],
           "*/loop": [)" +
        hop + R"(])");
  EXPECT_EQ(FetchFile("/eleven", streams), 0);
  EXPECT_EQ(streams.err,
            tenLines + "Status Code of Download is 302\n" + "Status Code of Download is 302\n");
  EXPECT_EQ(requests_.size(), 11u);
  EXPECT_FALSE(platform::PathQuery(Target()));
}

TEST_F(RedirectTest, RedirectToAnUnacceptedStatusFails) {
  if (!ClientFollowsRedirects()) GTEST_SKIP() << "WinINet follows redirects itself";
  Serve(R"("*/gone": [{"status": 302, "headers": [["Location", "http://127.0.0.1:@PORT@/404"]]}],
           "*/404": [{"status": 404, "body": "no"}])");
  Streams streams;
  EXPECT_EQ(FetchFile("/gone", streams), 0);
  EXPECT_EQ(streams.err, "Status Code of Download is 404\nStatus Code of Download is 404\n");
}

TEST_F(HttpDownloaderTest, PlatformFailuresPrintTheirCodeAndDescription) {
  Serve(R"("*/hangup": [{"close": true}])");
  Streams streams;
  const std::wstring refused =
      platform::FromUtf8("http://127.0.0.1:" + Env("KIVO_HTTP_CLOSED_PORT") + "/pkg");
  int result = -1;
  streams = Run([&] { result = CHttpDownloader().DownloadToFile(refused, Target()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(streams.out.substr(0, streams.out.find('\n') + 1), "Error Code: 12029\n");
  EXPECT_GT(streams.out.size(), std::string("Error Code: 12029\n\n").size()) << "a description";
  EXPECT_EQ(streams.out.back(), '\n');
  EXPECT_EQ(streams.err, "");
  EXPECT_FALSE(platform::PathQuery(Target()));

  // libcurl reports a failure; WinINet may deliver no status instead. Either way no body.
  EXPECT_EQ(FetchFile("/hangup", streams), 0);
  EXPECT_NE(streams.out + streams.err, "");
  EXPECT_FALSE(platform::PathQuery(Target()));
}

TEST_F(HttpDownloaderTest, FailedFileWritesAreFailures) {
  Serve(R"("*/pkg": [{"body_size": 3000}])");
  Streams streams;
  const std::wstring noFolder = dir_.path() + L"missing" + platform::NativePath(L"\\pkg.rar");
  int result = -1;
  streams = Run([&] { result = CHttpDownloader().DownloadToFile(Url("/pkg"), noFolder); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(streams.err + streams.out, "") << "no message for a file that cannot be created";
  const std::wstring full = platform::NativePath(L"\\dev\\full");
  if (!platform::PathQuery(full))
    GTEST_SKIP() << "no device here that refuses writes, as /dev/full on Linux";
  streams = Run([&] { result = CHttpDownloader().DownloadToFile(Url("/pkg"), full); });
  EXPECT_EQ(result, 0) << "a device in the file's place is no success";
  EXPECT_EQ(platform::QueryPath(full).kind, platform::PathKind::Other)
      << "neither removed nor replaced";
}

TEST_F(HttpDownloaderTest, HostNamesReachTheServerThroughTheProxy) {
  if (Env("http_proxy").empty())
    GTEST_SKIP() << "needs http_proxy (ctest entry http_downloader_proxy)";
  Serve(R"("version.kivo9.example/kivover/ver.htm": [{"body": "from the proxy"}])");
  Streams streams;
  EXPECT_EQ(FetchText(L"http://version.kivo9.example/kivover/ver.htm", streams), L"from the proxy");
  ASSERT_EQ(requests_.size(), 1u);
  // WinINet names the default port in the request target, libcurl does not.
  const std::string& line = requests_[0].line;
  EXPECT_TRUE(line == "GET http://version.kivo9.example/kivover/ver.htm HTTP/1.0" ||
              line == "GET http://version.kivo9.example:80/kivover/ver.htm HTTP/1.0")
      << line;
  ExpectFixedHeaders(requests_[0]);
}

TEST(ResponseHeadTest, LocationKeepsItsCarriageReturnAndStopsAtTheLineFeed) {
  std::wstring location;
  EXPECT_TRUE(FindRedirectLocation(
      L"HTTP/1.0 302 Found\r\nLocation: http://a/b\r\nServer: x\r\n\r\n", location));
  EXPECT_EQ(location, L"http://a/b\r");
  EXPECT_TRUE(FindRedirectLocation(L"HTTP/1.0 302 Found\r\nLocation: \nhttp://a/\r\n", location));
  EXPECT_EQ(location, L"\nhttp://a/\r\n") << "a line feed first keeps the whole rest";
  EXPECT_FALSE(FindRedirectLocation(L"HTTP/1.0 302 Found\r\nX-Location: http://c/\r\n", location))
      << "the text inside another header line is no location";
  EXPECT_TRUE(FindRedirectLocation(
      L"HTTP/1.0 302 Found\r\nX-Note: Location: http://c/\r\nLocation: http://d/\r\n", location));
  EXPECT_EQ(location, L"http://d/\r");
  EXPECT_FALSE(FindRedirectLocation(L"HTTP/1.0 302 Found\r\nlocation: http://a/\r\n", location));
  EXPECT_FALSE(FindRedirectLocation(L"HTTP/1.0 302 Found\r\nLocation:http://a/\r\n", location));
}

TEST(ResponseHeadTest, ContentLengthAndStatusAreReadStrictly) {
  EXPECT_EQ(DeclaredContentLength(L"HTTP/1.0 200 OK\r\ncontent-LENGTH:  42 \r\n\r\n"), 42u);
  EXPECT_EQ(DeclaredContentLength(L"HTTP/1.0 200 OK\r\nContent-Length: 4x\r\n\r\n"), std::nullopt);
  EXPECT_EQ(DeclaredContentLength(L"HTTP/1.0 200 OK\r\nX-Content-Length: 4\r\n\r\n"), std::nullopt);
  EXPECT_EQ(DeclaredContentLength(L"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n"),
            std::nullopt);
  EXPECT_FALSE(
      LengthsContradict(L"HTTP/1.0 200 OK\r\nContent-Length: 4\r\ncontent-length:  4\r\n"));
  EXPECT_TRUE(LengthsContradict(L"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: 40\r\n"));
  EXPECT_TRUE(LengthsContradict(L"HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Length: x\r\n"));
  EXPECT_EQ(StatusNumber(L"302"), 302);
  EXPECT_EQ(StatusNumber(L""), 0);
  EXPECT_EQ(StatusNumber(L"abc"), 0);
}

}  // namespace
