#include "agent/http/http_downloader.h"

#include <array>
#include <cstring>
#include <optional>

#include "agent/http/block_file_sink.h"
#include "agent/http/response_head.h"
#include "agent/http/tear_exception.h"
#include "platform/console.h"
#include "platform/http.h"
#include "platform/text.h"

namespace {

constexpr wchar_t kAgentName[] = L"Sentiwalker Download";
constexpr wchar_t kHeaderBlock[] = L"Accept: */*\r\nUser-Agent: Corvane2\r\n";
constexpr std::uint32_t kRequestFlags =
    platform::kHttpFlagReload | platform::kHttpFlagExistingConnect |
    platform::kHttpFlagNoCacheWrite | platform::kHttpFlagPragmaNoCache;
constexpr std::uint32_t kConnectTimeoutMs = 2000;
constexpr int kRedirectLimit = 10;
constexpr std::size_t kChunkBytes = 1024;

using Connection = std::optional<platform::HttpConnection>;
using Request = std::optional<platform::HttpRequest>;

[[noreturn]] void Fail(int code, const std::wstring& message) {
  if (!message.empty()) platform::WriteErr(message);
  throw CTearException(code);
}

void WriteStatusLine(int status) {
  platform::WriteErr(L"Status Code of Download is " + std::to_wstring(status) + L"\n");
}

bool IsRedirect(int status) { return status == 301 || status == 302 || status == 303; }

// Connects, opens the GET request and sends it; returns the answer's status.
int Exchange(const platform::HttpSession& session, const platform::HttpUrl& url,
             Connection& connection, Request& request, bool firstRequest) {
  connection.emplace(session, url.host, url.port);
  request.emplace(*connection, L"GET", url.object, L"HTTP/1.0", kRequestFlags);
  request->AddHeaders(kHeaderBlock);
  if (firstRequest) request->SetConnectTimeout(kConnectTimeoutMs);
  request->Send();
  return StatusNumber(request->StatusText());
}

int FollowRedirect(const platform::HttpSession& session, Connection& connection, Request& request) {
  std::wstring location;
  if (!FindRedirectLocation(request->RawHeaders(), location)) {
    Fail(CTearException::kBadRedirect, L"Error: Site redirects with no new location\n");
  }
  request.reset();
  connection.reset();
  platform::HttpUrl url;
  if (!session.CrackUrl(location, url)) {
    Fail(CTearException::kBadRedirect, L"Error: the redirected URL could not be parsed.\n");
  }
  if (!url.isHttp) {
    Fail(CTearException::kBadRedirect,
         L"Error: the redirected URL does not reference a HTTP resource.\n");
  }
  const int status = Exchange(session, url, connection, request, false);
  WriteStatusLine(status);
  return status;
}

// Follows up to ten redirects. Only a 200 answer goes on to the body: a redirect beyond the
// limit is no resource either.
void AcceptStatus(int status, const platform::HttpSession& session, Connection& connection,
                  Request& request) {
  for (int redirects = 0;; ++redirects) {
    if (status == 401) Fail(CTearException::kBadUrl, L"Access denied: Need password\n");
    if (status == 200) return;
    if (!IsRedirect(status) || redirects == kRedirectLimit) {
      WriteStatusLine(status);
      throw CTearException(CTearException::kBadStatus);
    }
    status = FollowRedirect(session, connection, request);
  }
}

void ReportPlatformFailure(const platform::HttpError& error) {
  platform::WriteOut(L"Error Code: " + std::to_wstring(static_cast<int>(error.Code())) + L"\n");
  platform::WriteOut(error.Description() + L"\n");
}

// Reads the body into sink within limits; true when all of it, at least one byte, was taken
// and accepted. Why the limits ended it goes to refusal. A body that does not end by Close
// is abandoned, so the sink keeps what it took.
bool ReadBody(platform::HttpRequest& request, BodySink& sink, TransferWatch& watch,
              const TransferLimits& limits, std::string& refusal) {
  const std::wstring head = request.RawHeaders();
  if (LengthsContradict(head)) {
    Fail(CTearException::kBadStatus, L"Error: the answer declares two different lengths\n");
  }
  const auto declared = DeclaredContentLength(head);
  if (!sink.Open(declared)) throw CTearException(CTearException::kFileNotCreated);
  struct AbandonUnlessClosed {
    BodySink& sink;
    bool closed = false;
    ~AbandonUnlessClosed() {
      if (!closed) sink.Abandon();
    }
  } body{sink};
  watch.BodyStarts(TransferWatch::Clock::now());
  std::array<char, kChunkBytes + 1> buffer;
  std::uint64_t received = 0;
  for (;;) {
    const std::size_t size = request.ReadChunk(buffer.data(), kChunkBytes);
    if (size == 0) break;
    if (!sink.Take(buffer.data(), size)) return false;
    received += size;
    if (limits.progress != nullptr) limits.progress->Update(received, declared);
    refusal = watch.Check(received, TransferWatch::Clock::now());
    if (!refusal.empty()) return false;
  }
  body.closed = true;
  if (!sink.Close()) return false;
  const bool complete = !declared || received >= *declared;  // else the body was cut short
  return complete && received > 0;
}

}  // namespace

std::wstring CHttpDownloader::DownloadToString(const std::wstring& url) {
  TextSink page;
  Fetch(url, page, TransferLimits::Page());
  return page.Text();
}

int CHttpDownloader::DownloadToFile(const std::wstring& url, const std::wstring& path) {
  BlockFileSink file(path);
  return Fetch(url, file, TransferLimits::File());
}

int CHttpDownloader::Fetch(const std::wstring& url, BodySink& sink, const TransferLimits& limits) {
  refusal_.clear();
  TransferWatch watch(limits, TransferWatch::Clock::now());
  platform::ForgetCachedUrl(url);
  const platform::HttpSession session(kAgentName);
  Connection connection;
  Request request;
  int result = 0;
  try {
    platform::HttpUrl parts;
    if (!session.CrackUrl(url, parts) || !parts.isHttp) {
      Fail(CTearException::kBadUrl, L"Error: can only use URLs beginning with http://\n");
    }
    const int status = Exchange(session, parts, connection, request, true);
    AcceptStatus(status, session, connection, request);
    result = ReadBody(*request, sink, watch, limits, refusal_) ? 1 : 0;
  } catch (const CTearException&) {
    result = 0;
  } catch (const platform::HttpError& error) {
    ReportPlatformFailure(error);
    result = 0;
  } catch (const std::exception&) {
    result = 0;
  }
  request.reset();
  connection.reset();
  if (limits.progress != nullptr) limits.progress->Finish();
  if (refusal_.empty()) refusal_ = sink.Refusal();
  return result;
}
