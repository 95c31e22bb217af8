// The HTTP transport on WinINet, with the calls, flags and buffer sizes the agent is defined with.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

constexpr DWORD kUrlBufferChars = 2084;
constexpr DWORD kStatusBufferBytes = 80;
constexpr std::size_t kDescriptionLimit = 1023;
constexpr DWORD_PTR kContext = 1;
constexpr DWORD kSilentServerMs = 60000;

bool CloseInternetHandle(HINTERNET handle) { return InternetCloseHandle(handle) != 0; }
using InternetHandle = UniqueHandle<HINTERNET, CloseInternetHandle>;

std::wstring TableMessage(DWORD source, HMODULE module, DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     module, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  return message;
}

// The server's own words for ERROR_INTERNET_EXTENDED_ERROR.
std::wstring LastResponseInfo() {
  DWORD error = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoW(&error, nullptr, &length);
  std::wstring text(length + 1, L'\0');
  if (!InternetGetLastResponseInfoW(&error, text.data(), &length)) return L"";
  text.resize(length);
  return text;
}

std::wstring ErrorDescription(DWORD code) {
  std::wstring text;
  if (code == ERROR_INTERNET_EXTENDED_ERROR) {
    text = LastResponseInfo();
  } else {
    text = TableMessage(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleW(L"wininet.dll"), code);
    if (text.empty()) text = TableMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
  }
  if (text.size() > kDescriptionLimit) text.resize(kDescriptionLimit);
  return text;
}

[[noreturn]] void ThrowLastError() {
  const DWORD code = GetLastError();
  throw HttpError(code, ErrorDescription(code));
}

bool Canonicalize(const std::wstring& url, std::wstring& canonical) {
  DWORD length = kUrlBufferChars;
  std::wstring buffer(length, L'\0');
  if (!InternetCanonicalizeUrlW(url.c_str(), buffer.data(), &length, ICU_BROWSER_MODE)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(length + 1, L'\0');  // the size asked for, whether counted in bytes or chars
    length = static_cast<DWORD>(buffer.size());
    if (!InternetCanonicalizeUrlW(url.c_str(), buffer.data(), &length, ICU_BROWSER_MODE)) {
      return false;
    }
  }
  canonical.assign(buffer.c_str());
  return true;
}

// The query of the extra information ("?a=b#top" gives "?a=b"); a fragment is not sent.
std::wstring QueryOf(const wchar_t* extra) {
  std::wstring query(extra);
  return query.substr(0, query.find(L'#'));
}

}  // namespace

bool HttpFollowsRedirectsItself() { return true; }

void ForgetCachedUrl(const std::wstring& url) { DeleteUrlCacheEntryW(url.c_str()); }

struct HttpSession::Impl {
  explicit Impl(HINTERNET h) : handle(h) {}
  InternetHandle handle;
};

HttpSession::HttpSession(const std::wstring& agentName) {
  HINTERNET handle =
      InternetOpenW(agentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (handle == nullptr) ThrowLastError();
  impl_ = std::make_unique<Impl>(handle);
}

HttpSession::~HttpSession() = default;

bool HttpSession::CrackUrl(const std::wstring& url, HttpUrl& parts) const {
  std::wstring canonical;
  if (!Canonicalize(url, canonical)) return false;
  std::wstring host(kUrlBufferChars + 1, L'\0');
  std::wstring path(canonical.size() + 1, L'\0');
  std::wstring extra(canonical.size() + 1, L'\0');
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof(components);
  components.lpszHostName = host.data();
  components.dwHostNameLength = static_cast<DWORD>(host.size());
  components.lpszUrlPath = path.data();
  components.dwUrlPathLength = static_cast<DWORD>(path.size());
  components.lpszExtraInfo = extra.data();
  components.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlW(canonical.c_str(), 0, 0, &components)) return false;
  parts.isHttp = components.nScheme == INTERNET_SCHEME_HTTP;
  parts.host = host.c_str();
  parts.port = components.nPort;
  parts.object = path.c_str() + QueryOf(extra.c_str());
  if (parts.object.empty() || parts.object[0] != L'/') parts.object.insert(0, L"/");
  return true;
}

struct HttpConnection::Impl {
  explicit Impl(HINTERNET h) : handle(h) {}
  InternetHandle handle;
};

HttpConnection::HttpConnection(const HttpSession& session, const std::wstring& host,
                               std::uint16_t port) {
  HINTERNET handle = InternetConnectW(session.impl_->handle.get(), host.c_str(), port, nullptr,
                                      nullptr, INTERNET_SERVICE_HTTP, 0, kContext);
  if (handle == nullptr) ThrowLastError();
  impl_ = std::make_unique<Impl>(handle);
}

HttpConnection::~HttpConnection() = default;

// WinINet's time-outs bound each wait on the socket, not an exchange: a server that sends a
// byte now and then would hold it for ever. So a watchdog closes the request handle when the
// time is up, which WinINet documents as the way to end a blocking call from another thread.
struct HttpRequest::Impl {
  explicit Impl(HINTERNET h) : handle(h) {}
  ~Impl() {
    if (!watchdog.joinable()) return;
    {
      const std::lock_guard<std::mutex> guard(lock);
      ending = true;
    }
    changed.notify_one();
    watchdog.join();
    if (cut) handle.Detach();  // closed by the watchdog already
  }

  void WatchUntil(std::chrono::steady_clock::time_point deadline) {
    watchdog = std::thread([this, deadline] {
      std::unique_lock<std::mutex> guard(lock);
      if (changed.wait_until(guard, deadline, [this] { return ending; })) return;
      cut = true;
      InternetCloseHandle(handle.get());
    });
  }

  [[noreturn]] void ThrowFailure() const {
    if (!cut) ThrowLastError();
    throw HttpError(ERROR_INTERNET_TIMEOUT, ErrorDescription(ERROR_INTERNET_TIMEOUT));
  }

  InternetHandle handle;
  std::mutex lock;
  std::condition_variable changed;
  bool ending = false;  // guarded by lock
  std::atomic<bool> cut = false;
  std::thread watchdog;
};

HttpRequest::HttpRequest(const HttpConnection& connection, const std::wstring& verb,
                         const std::wstring& object, const std::wstring& httpVersion,
                         std::uint32_t flags)
    : impl_(std::make_unique<Impl>(HttpOpenRequestW(connection.impl_->handle.get(), verb.c_str(),
                                                    object.c_str(), httpVersion.c_str(), nullptr,
                                                    nullptr, flags, kContext))) {}

HttpRequest::~HttpRequest() = default;

void HttpRequest::AddHeaders(const std::wstring& headerLines) {
  HttpAddRequestHeadersW(impl_->handle.get(), headerLines.c_str(), static_cast<DWORD>(-1),
                         HTTP_ADDREQ_FLAG_ADD_IF_NEW);
}

void HttpRequest::SetConnectTimeout(std::uint32_t milliseconds) {
  DWORD value = milliseconds;
  InternetSetOptionExW(impl_->handle.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof(value),
                       0);
}

void HttpRequest::SetTimeLimit(std::uint32_t milliseconds) {
  // Each wait is bounded too, for a WinINet that finishes a blocking wait before it notices
  // the closed handle; a silent server is given up on after a minute, as without a limit.
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD value = milliseconds < kSilentServerMs ? milliseconds : kSilentServerMs;
    InternetSetOptionExW(impl_->handle.get(), option, &value, sizeof(value), 0);
  }
  if (impl_->handle.IsOpen() && !impl_->watchdog.joinable()) {
    impl_->WatchUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
  }
}

void HttpRequest::Send() {
  if (!HttpSendRequestW(impl_->handle.get(), nullptr, 0, nullptr, 0)) impl_->ThrowFailure();
}

std::wstring HttpRequest::StatusText() const {
  wchar_t buffer[kStatusBufferBytes / sizeof(wchar_t)] = {};
  DWORD length = kStatusBufferBytes;
  if (!HttpQueryInfoW(impl_->handle.get(), HTTP_QUERY_STATUS_CODE, buffer, &length, nullptr)) {
    return L"";
  }
  return buffer;
}

std::wstring HttpRequest::RawHeaders() const {
  DWORD length = 0;
  HttpQueryInfoW(impl_->handle.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &length, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return L"";
  std::wstring text(length / sizeof(wchar_t) + 1, L'\0');
  length = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!HttpQueryInfoW(impl_->handle.get(), HTTP_QUERY_RAW_HEADERS_CRLF, text.data(), &length,
                      nullptr)) {
    return L"";
  }
  return text.c_str();
}

std::size_t HttpRequest::ReadChunk(char* buffer, std::size_t size) {
  DWORD read = 0;
  if (!InternetReadFile(impl_->handle.get(), buffer, static_cast<DWORD>(size), &read)) {
    impl_->ThrowFailure();
  }
  return read;
}

}  // namespace platform
