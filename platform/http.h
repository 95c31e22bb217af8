// The HTTP transport: one GET exchange pulled step by step, as the download client drives it.
// Windows uses WinINet; elsewhere libcurl reproduces what the client sees of WinINet: send,
// status as text, raw headers, body in chunks, with WinINet's error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// A failure of the platform's HTTP library: its error number (a WinINet number, 12000 and
// up, or a system error) and the library's description of it ("" when none is known).
class HttpError : public std::exception {
 public:
  HttpError(std::uint32_t code, std::wstring description)
      : code_(code), description_(std::move(description)) {}
  std::uint32_t Code() const { return code_; }
  const std::wstring& Description() const { return description_; }
  const char* what() const noexcept override { return "HTTP library failure"; }

 private:
  std::uint32_t code_;
  std::wstring description_;
};

// The request flags of WinINet. Off Windows nothing is cached locally; there the no-cache
// pragma only adds "Pragma: no-cache" to the request, as WinINet does.
inline constexpr std::uint32_t kHttpFlagReload = 0x80000000;
inline constexpr std::uint32_t kHttpFlagExistingConnect = 0x20000000;
inline constexpr std::uint32_t kHttpFlagNoCacheWrite = 0x04000000;
inline constexpr std::uint32_t kHttpFlagPragmaNoCache = 0x00000100;

// The parts of a canonical URL.
struct HttpUrl {
  bool isHttp = false;  // the scheme is http (https and every other scheme are not)
  std::wstring host;
  std::uint16_t port = 0;
  std::wstring object;  // path with any query string, at least "/"
};

// True when the library follows redirect answers by itself, so that the caller sees them only
// when they cannot be followed (WinINet without INTERNET_FLAG_NO_AUTO_REDIRECT). Elsewhere
// every redirect answer reaches the caller.
bool HttpFollowsRedirectsItself();

// Removes the URL's entry from the system's URL cache (nothing to do where there is none).
void ForgetCachedUrl(const std::wstring& url);

class HttpConnection;
class HttpRequest;

// An internet session under an agent name. The system's configured proxy applies (on
// Windows the preconfigured settings, elsewhere `http_proxy` and `no_proxy`).
class HttpSession {
 public:
  // Throws HttpError when the session cannot be opened.
  explicit HttpSession(const std::wstring& agentName);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Canonicalises url and splits it. Returns false when it does not parse; a URL of another
  // scheme parses with isHttp false.
  bool CrackUrl(const std::wstring& url, HttpUrl& parts) const;

  struct Impl;

 private:
  friend class HttpConnection;
  std::unique_ptr<Impl> impl_;
};

// A connection to one host and port within a session.
class HttpConnection {
 public:
  // Throws HttpError when the platform gives no connection.
  HttpConnection(const HttpSession& session, const std::wstring& host, std::uint16_t port);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  struct Impl;

 private:
  friend class HttpRequest;
  std::unique_ptr<Impl> impl_;
};

// One request on a connection. Closing happens on destruction.
class HttpRequest {
 public:
  // Never throws: a request the platform could not open fails in Send().
  HttpRequest(const HttpConnection& connection, const std::wstring& verb,
              const std::wstring& object, const std::wstring& httpVersion, std::uint32_t flags);
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Adds "Name: value\r\n" lines whose names the request does not carry yet.
  void AddHeaders(const std::wstring& headerLines);
  // Time-out for establishing the connection of this request.
  void SetConnectTimeout(std::uint32_t milliseconds);
  // The whole exchange (connecting, sending, the head and the body) must end within this
  // time from now: after it, Send and ReadChunk throw HttpError 12002 (a time-out), however
  // slowly the server still sends. Without it, only a server that stays silent for a minute
  // is given up on.
  void SetTimeLimit(std::uint32_t milliseconds);
  // Sends the request and waits for the response head. Throws HttpError on failure.
  void Send();
  // The response status code as text; "" when it is not available.
  std::wstring StatusText() const;
  // Status line and headers of the response, each line ending in "\r\n"; "" when none.
  std::wstring RawHeaders() const;
  // Reads up to size bytes of the body into buffer; returns 0 at the end of the body.
  // Throws HttpError when reading fails.
  std::size_t ReadChunk(char* buffer, std::size_t size);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
