// The scripted loopback server (tests/server) as a test program sees it when it was started
// through run_with_server.py --proxy: host names of the build reach the server as proxy
// requests, so the program under test asks for its real URLs.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/test_support.h"
#include "platform/text.h"

class LoopbackServer {
 public:
  // False when no server was started around this program; the tests then skip.
  static bool Available() { return std::getenv("KIVO_HTTP_PORT") != nullptr; }

  // Replaces the routes; routes is the inside of the script's "routes" object. Requests
  // made before are no longer reported by RequestedUrls.
  void Serve(const std::string& routes) {
    static int generation = 0;
    logStart_ = platform::ReadWholeFile(FileOf("KIVO_HTTP_LOG")).size();
    const std::string script =
        "{\"generation\": " + std::to_string(++generation) + ", \"routes\": {" + routes + "}}";
    platform::WriteWholeFile(FileOf("KIVO_HTTP_SCRIPT"), script);
  }

  // The request targets received since Serve, in order: absolute URLs for proxy requests.
  std::vector<std::string> RequestedUrls() const {
    const std::string log = platform::ReadWholeFile(FileOf("KIVO_HTTP_LOG")).substr(logStart_);
    std::vector<std::string> urls;
    for (std::size_t start = 0, end = log.find("\r\n\r\n"); end != std::string::npos;
         start = end + 4, end = log.find("\r\n\r\n", start)) {
      const std::string line = log.substr(start, log.find("\r\n", start) - start);
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

 private:
  // WinINet names the default port in proxy requests ("http://host:80/path"); libcurl does not.
  static std::string WithoutDefaultPort(std::string url) {
    const std::size_t hostStart = url.rfind("http://", 0) == 0 ? 7 : std::string::npos;
    if (hostStart == std::string::npos) return url;
    const std::size_t port = url.find(":80/", hostStart);
    if (port != std::string::npos && port < url.find('/', hostStart)) url.erase(port, 3);
    return url;
  }

  static std::wstring FileOf(const char* variable) {
    const char* value = std::getenv(variable);
    return platform::FromUtf8(value != nullptr ? value : "");
  }

  std::size_t logStart_ = 0;
};
