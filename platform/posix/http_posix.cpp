// The HTTP transport on libcurl, driven so that the caller pulls the exchange as from WinINet:
// send, status, raw headers, then the body in small chunks. The multi interface runs the
// transfer only while the caller waits for data, and the write callback pauses the transfer
// while a few blocks are still unread, so memory stays flat whatever the body's size.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace platform {
namespace {

// How long a server may stay silent in the middle of an exchange.
constexpr long kSilentServerSeconds = 60;

// WinINet's numbers for the failures that have one.
constexpr std::uint32_t kErrorTimeout = 12002;
constexpr std::uint32_t kErrorInternal = 12004;
constexpr std::uint32_t kErrorNameNotResolved = 12007;
constexpr std::uint32_t kErrorCannotConnect = 12029;
constexpr std::uint32_t kErrorConnectionAborted = 12030;
constexpr std::uint32_t kErrorInvalidServerResponse = 12152;
constexpr long kPollMilliseconds = 1000;
// Body bytes taken from libcurl ahead of the reader: enough to keep the transfer moving in
// large steps, little enough to keep memory flat.
constexpr long kReceiveBufferBytes = 64 * 1024;
constexpr std::size_t kBufferedBodyLimit = 256 * 1024;

std::uint32_t WinInetNumber(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kErrorCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kErrorTimeout;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return kErrorConnectionAborted;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kErrorInvalidServerResponse;
    default:
      return kErrorInternal;
  }
}

[[noreturn]] void ThrowCurlError(CURLcode code, const char* detail) {
  const char* text = detail != nullptr && detail[0] != '\0' ? detail : curl_easy_strerror(code);
  throw HttpError(WinInetNumber(code), FromUtf8(text));
}

void InitialiseCurlOnce() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (result != CURLE_OK) ThrowCurlError(result, nullptr);
}

bool IsBlankOrControl(wchar_t c) { return c <= L' ' || c == 0x7F; }

std::wstring Trimmed(const std::wstring& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsSchemeChar(wchar_t c, bool first) {
  const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  return letter || (!first && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'));
}

// Length of the scheme before ':' ; 0 when the text does not begin with one.
std::size_t SchemeLength(const std::wstring& url) {
  std::size_t n = 0;
  while (n < url.size() && IsSchemeChar(url[n], n == 0)) ++n;
  return n > 0 && n < url.size() && url[n] == L':' ? n : 0;
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  if (a.size() != std::wcslen(b)) return false;
  return std::equal(a.begin(), a.end(), b,
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// Escapes what a request line cannot carry: blanks, controls and non-ASCII (as UTF-8).
std::wstring Escaped(const std::wstring& object) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring out;
  for (wchar_t c : object) {
    if (c > L' ' && c < 0x7F) {
      out += c;
      continue;
    }
    for (unsigned char byte : ToUtf8(std::wstring(1, c))) {
      out += {L'%', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return out;
}

bool ParsePort(const std::wstring& digits, std::uint16_t& port) {
  const auto value = ParseDecimal(std::wstring_view(digits), 65535);
  if (!value || *value == 0) return false;
  port = static_cast<std::uint16_t>(*value);
  return true;
}

// Splits "user@host:port" into host and port; false when it is no valid authority.
bool ParseAuthority(std::wstring authority, HttpUrl& parts) {
  authority = authority.substr(authority.rfind(L'@') + 1);  // credentials are never sent
  std::size_t colon = authority.rfind(L':');
  if (colon != std::wstring::npos && authority.find(L']', colon) != std::wstring::npos) {
    colon = std::wstring::npos;  // the colons of an IPv6 address
  }
  parts.host = authority.substr(0, colon);
  parts.port = 80;
  if (colon != std::wstring::npos && !ParsePort(authority.substr(colon + 1), parts.port)) {
    return false;
  }
  if (parts.host.empty()) return false;
  return std::none_of(parts.host.begin(), parts.host.end(),
                      [](wchar_t c) { return IsBlankOrControl(c) || c == L'/' || c == L'\\'; });
}

std::wstring ObjectOf(const std::wstring& rest) {
  std::wstring object = rest.substr(0, rest.find(L'#'));
  if (object.empty() || object[0] != L'/') object.insert(0, L"/");
  return Escaped(object);
}

std::wstring UrlHost(const std::wstring& host) {
  const bool ipv6 = host.find(L':') != std::wstring::npos && host.front() != L'[';
  return ipv6 ? L"[" + host + L"]" : host;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

bool HttpFollowsRedirectsItself() { return false; }

void ForgetCachedUrl(const std::wstring&) {}

struct HttpSession::Impl {};

HttpSession::HttpSession(const std::wstring&) {
  InitialiseCurlOnce();
  impl_ = std::make_unique<Impl>();
}

HttpSession::~HttpSession() = default;

bool HttpSession::CrackUrl(const std::wstring& url, HttpUrl& parts) const {
  const std::wstring text = Trimmed(url);
  const std::size_t scheme = SchemeLength(text);
  if (scheme == 0) return false;
  parts = HttpUrl{};
  parts.isHttp = EqualsNoCase(text.substr(0, scheme), L"http");
  if (!parts.isHttp) return true;
  if (text.compare(scheme + 1, 2, L"//") != 0) return false;
  const std::size_t start = scheme + 3;
  const std::size_t end = std::min(text.find_first_of(L"/?#", start), text.size());
  if (!ParseAuthority(text.substr(start, end - start), parts)) return false;
  parts.object = ObjectOf(text.substr(end));
  return true;
}

struct HttpConnection::Impl {
  std::wstring host;
  std::uint16_t port;
};

HttpConnection::HttpConnection(const HttpSession&, const std::wstring& host, std::uint16_t port)
    : impl_(std::make_unique<Impl>(Impl{host, port})) {}

HttpConnection::~HttpConnection() = default;

struct HttpRequest::Impl {
  std::string url;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  std::unique_ptr<CURLM, MultiDeleter> multi{curl_multi_init()};
  std::unique_ptr<CURL, EasyDeleter> easy{curl_easy_init()};
  std::vector<std::string> headerLines;
  bool attached = false;
  char errorText[CURL_ERROR_SIZE] = {};

  std::string head;  // of the last response, interim (1xx) answers dropped
  bool headComplete = false;
  std::string block;  // body bytes taken from libcurl, not yet read by the caller
  std::size_t blockOffset = 0;
  bool paused = false;
  bool done = false;
  CURLcode result = CURLE_OK;

  ~Impl() {
    if (attached) curl_multi_remove_handle(multi.get(), easy.get());
  }

  bool HasUnreadBody() const { return blockOffset < block.size(); }

  static std::size_t OnHeader(char* data, std::size_t, std::size_t size, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const std::string line(data, size);
    if (line.rfind("HTTP/", 0) == 0) impl->head.clear();
    impl->head += line;
    if ((line == "\r\n" || line == "\n") && impl->head.size() > 12 && impl->head[9] != '1') {
      impl->headComplete = true;
    }
    return size;
  }

  static std::size_t OnBody(char* data, std::size_t, std::size_t size, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const std::size_t unread = impl->block.size() - impl->blockOffset;
    if (unread > 0 && unread + size > kBufferedBodyLimit) {
      impl->paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    impl->block.erase(0, impl->blockOffset);
    impl->blockOffset = 0;
    impl->block.append(data, size);
    impl->headComplete = true;  // a body implies its head, even a malformed one
    return size;
  }

  // Runs the transfer until ready() holds or the transfer has ended.
  template <typename Ready>
  void RunUntil(Ready ready) {
    while (!ready() && !done) {
      int running = 0;
      curl_multi_perform(multi.get(), &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) {
          done = true;
          result = message->data.result;
        }
      }
      if (ready() || done) break;
      curl_multi_poll(multi.get(), nullptr, 0, kPollMilliseconds, nullptr);
    }
  }

  void Configure(const std::wstring& verb, const std::wstring& httpVersion) {
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // WinINet gives up on a server that goes silent after its receive time-out; libcurl
    // would wait for ever. A transfer that moves nothing for a minute fails as a time-out.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kSilentServerSeconds);
    if (httpVersion == L"HTTP/1.0") {
      curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    }
    if (verb != L"GET") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, ToUtf8(verb).c_str());
  }

  bool HasHeader(const std::string& name) const {
    return std::any_of(headerLines.begin(), headerLines.end(), [&name](const std::string& line) {
      return line.size() > name.size() && line[name.size()] == ':' &&
             strncasecmp(line.c_str(), name.c_str(), name.size()) == 0;
    });
  }

  void AddIfNew(const std::string& line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || HasHeader(line.substr(0, colon))) return;
    headerLines.push_back(line);
  }

  // The caller's headers only: libcurl's own Accept and proxy keep-alive stay out.
  bool ApplyHeaders() {
    std::vector<std::string> lines = headerLines;
    for (const char* name : {"Accept", "Proxy-Connection"}) {
      if (!HasHeader(name)) lines.push_back(std::string(name) + ":");
    }
    for (const std::string& line : lines) {
      curl_slist* list = curl_slist_append(headers.get(), line.c_str());
      if (list == nullptr) return false;
      headers.release();
      headers.reset(list);
    }
    return curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
  }
};

HttpRequest::HttpRequest(const HttpConnection& connection, const std::wstring& verb,
                         const std::wstring& object, const std::wstring& httpVersion,
                         std::uint32_t flags)
    : impl_(std::make_unique<Impl>()) {
  // As WinINet does, so that a caching proxy passes the request on.
  if ((flags & kHttpFlagPragmaNoCache) != 0) impl_->headerLines.push_back("Pragma: no-cache");
  const auto& target = *connection.impl_;
  impl_->url =
      ToUtf8(L"http://" + UrlHost(target.host) + L":" + std::to_wstring(target.port) + object);
  if (impl_->easy != nullptr) impl_->Configure(verb, httpVersion);
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::AddHeaders(const std::wstring& headerLines) {
  const std::string lines = ToUtf8(headerLines);
  std::size_t start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    std::string line = lines.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) impl_->AddIfNew(line);
    start = end + 1;
  }
}

void HttpRequest::SetConnectTimeout(std::uint32_t milliseconds) {
  curl_easy_setopt(impl_->easy.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpRequest::SetTimeLimit(std::uint32_t milliseconds) {
  // libcurl counts from the transfer's start, which is Send: the caller's now, near enough.
  curl_easy_setopt(impl_->easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(milliseconds));
}

void HttpRequest::Send() {
  if (impl_->easy == nullptr || impl_->multi == nullptr) {
    ThrowCurlError(CURLE_OUT_OF_MEMORY, nullptr);
  }
  if (!impl_->ApplyHeaders() ||
      curl_multi_add_handle(impl_->multi.get(), impl_->easy.get()) != CURLM_OK) {
    ThrowCurlError(CURLE_FAILED_INIT, nullptr);
  }
  impl_->attached = true;
  impl_->RunUntil([this] { return impl_->headComplete; });
  if (impl_->headComplete) return;
  if (impl_->result != CURLE_OK) ThrowCurlError(impl_->result, impl_->errorText);
  ThrowCurlError(CURLE_WEIRD_SERVER_REPLY, nullptr);
}

std::wstring HttpRequest::StatusText() const {
  long status = 0;
  curl_easy_getinfo(impl_->easy.get(), CURLINFO_RESPONSE_CODE, &status);
  return status > 0 ? std::to_wstring(status) : L"";
}

std::wstring HttpRequest::RawHeaders() const { return FromUtf8(impl_->head); }

std::size_t HttpRequest::ReadChunk(char* buffer, std::size_t size) {
  Impl& impl = *impl_;
  if (!impl.HasUnreadBody()) {
    impl.block.clear();
    impl.blockOffset = 0;
    if (impl.paused) {
      impl.paused = false;
      curl_easy_pause(impl.easy.get(), CURLPAUSE_CONT);
    }
    impl.RunUntil([&impl] { return impl.HasUnreadBody(); });
  }
  if (impl.HasUnreadBody()) {
    const std::size_t n = std::min(size, impl.block.size() - impl.blockOffset);
    std::memcpy(buffer, impl.block.data() + impl.blockOffset, n);
    impl.blockOffset += n;
    return n;
  }
  // A body cut short ends like any other here; the caller compares it with its length.
  if (impl.result == CURLE_OK || impl.result == CURLE_PARTIAL_FILE) return 0;
  ThrowCurlError(impl.result, impl.errorText);
}

}  // namespace platform
