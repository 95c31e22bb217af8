// The scripted loopback server (kivo_http_server.py) as a test program sees it when it was
// started through run_with_server.py: the routes are a script file the test rewrites, and
// every request received is appended to a log file. With --proxy, host names of the build
// reach the server as proxy requests, so the program under test asks for its real URLs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/test_support.h"
#include "platform/text.h"

class LoopbackServer {
 public:
  // One request as the server logged it: its request line and its header lines.
  struct Request {
    std::string line;
    std::vector<std::string> headers;
  };

  // False when no server was started around this program; the tests then skip.
  static bool Available() { return !Port().empty(); }
  static std::string Port() { return Env("KIVO_HTTP_PORT"); }

  // Replaces the routes; routes is the inside of the script's "routes" object, in which
  // "@PORT@" stands for the server's port. Requests made before are no longer reported.
  bool Serve(const std::string& routes) {
    static int generation = 0;
    MarkLog();
    const std::string script = "{\"generation\": " + std::to_string(++generation) +
                               ", \"routes\": {" + Replaced(routes, "@PORT@", Port()) + "}}";
    return platform::WriteWholeFile(FileOf("KIVO_HTTP_SCRIPT"), script);
  }

  // From now on only the requests that follow are reported.
  void MarkLog() { logStart_ = platform::ReadWholeFile(FileOf("KIVO_HTTP_LOG")).size(); }

  // The requests received since Serve or MarkLog, in order.
  std::vector<Request> Requests() const {
    const std::string log = platform::ReadWholeFile(FileOf("KIVO_HTTP_LOG")).substr(logStart_);
    std::vector<Request> requests;
    for (std::size_t start = 0, end = log.find("\r\n\r\n"); end != std::string::npos;
         start = end + 4, end = log.find("\r\n\r\n", start)) {
      Request request;
      for (std::size_t lineStart = start, lineEnd; lineStart <= end; lineStart = lineEnd + 2) {
        lineEnd = log.find("\r\n", lineStart);
        const std::string line = log.substr(lineStart, lineEnd - lineStart);
        (request.line.empty() ? request.line : request.headers.emplace_back()) = line;
      }
      requests.push_back(request);
    }
    return requests;
  }

  // The request targets received since Serve, in order: absolute URLs for proxy requests.
  std::vector<std::string> RequestedUrls() const {
    std::vector<std::string> urls;
    for (const Request& request : Requests()) {
      const std::string& line = request.line;
      const std::size_t first = line.find(' ');
      const std::size_t last = line.rfind(' ');
      urls.push_back(
          WithoutDefaultPort(first < last ? line.substr(first + 1, last - first - 1) : line));
    }
    return urls;
  }

  // "http://" + host + path, as a proxy request names it.
  static std::string Url(const wchar_t* host, const std::string& path) {
    return "http://" + platform::ToUtf8(host) + path;
  }

  // text with every occurrence of from replaced by to.
  static std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
      text.replace(at, from.size(), to);
      at += to.size();
    }
    return text;
  }

  static std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  }

 private:
  // WinINet names the default port in proxy requests ("http://host:80/path"); libcurl does not.
  static std::string WithoutDefaultPort(std::string url) {
    const std::size_t hostStart = url.rfind("http://", 0) == 0 ? 7 : std::string::npos;
    if (hostStart == std::string::npos) return url;
    const std::size_t port = url.find(":80/", hostStart);
    if (port != std::string::npos && port < url.find('/', hostStart)) url.erase(port, 3);
    return url;
  }

  static std::wstring FileOf(const char* variable) { return platform::FromUtf8(Env(variable)); }

  std::size_t logStart_ = 0;
};

// The fixture of the tests that run against the loopback server of the ctest entry
// version_and_package: skipped when no server was started, with a directory of its own.
// A derived SetUp calls this one first and returns when IsSkipped().
class LoopbackServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!LoopbackServer::Available()) {
      GTEST_SKIP() << "needs the loopback server (ctest entry version_and_package)";
    }
    ASSERT_FALSE(dir_.path().empty());
  }

  platform::ScopedTempDir dir_;
  LoopbackServer server_;
};
