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
constexpr std::uint32_t kTimeoutError = 12002;  // ERROR_INTERNET_TIMEOUT

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

// What every request of one fetch carries, and the watch that bounds them all.
struct FetchTerms {
  std::wstring headers;
  const ResumeFrom* resume;
  const TransferWatch& watch;
};

// The request headers: a resumed fetch asks for the rest, as long as the resource is the one
// its tag names (a tag that could break the header line asks for the whole).
std::wstring RequestHeaders(const ResumeFrom* resume) {
  std::wstring headers = kHeaderBlock;
  if (resume == nullptr || !IsStrongEntityTag(resume->entityTag)) return headers;
  return headers + L"Range: bytes=" + std::to_wstring(resume->offset) + L"-\r\nIf-Range: " +
         platform::FromUtf8(resume->entityTag) + L"\r\n";
}

// Connects, opens the GET request and sends it within the time the fetch has left; returns
// the answer's status.
int Exchange(const platform::HttpSession& session, const platform::HttpUrl& url,
             Connection& connection, Request& request, bool firstRequest, const FetchTerms& terms) {
  const auto left = terms.watch.Left(TransferWatch::Clock::now());
  if (left && left->count() == 0) throw CTearException(CTearException::kTimedOut);
  connection.emplace(session, url.host, url.port);
  request.emplace(*connection, L"GET", url.object, L"HTTP/1.0", kRequestFlags);
  request->AddHeaders(terms.headers);
  if (left) request->SetTimeLimit(static_cast<std::uint32_t>(left->count()));
  if (firstRequest) request->SetConnectTimeout(kConnectTimeoutMs);
  request->Send();
  return StatusNumber(request->StatusText());
}

int FollowRedirect(const platform::HttpSession& session, Connection& connection, Request& request,
                   const FetchTerms& terms) {
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
  const int status = Exchange(session, url, connection, request, false, terms);
  WriteStatusLine(status);
  return status;
}

// Follows up to ten redirects and returns the status that goes on to the body: 200, or 206
// for a fetch that asked for a range. A redirect beyond the limit is no resource either.
int AcceptStatus(int status, const platform::HttpSession& session, Connection& connection,
                 Request& request, const FetchTerms& terms) {
  for (int redirects = 0;; ++redirects) {
    if (status == 401) Fail(CTearException::kBadUrl, L"Access denied: Need password\n");
    if (status == 200 || (status == 206 && terms.resume != nullptr)) return status;
    if (!IsRedirect(status) || redirects == kRedirectLimit) {
      WriteStatusLine(status);
      throw CTearException(CTearException::kBadStatus);
    }
    status = FollowRedirect(session, connection, request, terms);
  }
}

// Where the body starts: a 206 only with exactly the rest that was asked for.
std::optional<BodyStart> StartOf(int status, const std::wstring& head, const ResumeFrom* resume) {
  BodyStart start{0, DeclaredContentLength(head), StrongEntityTag(head)};
  if (status != 206) return start;
  const auto range = DeclaredContentRange(head);
  if (!range || range->first != resume->offset || range->complete != resume->complete ||
      range->last + 1 != range->complete ||
      (start.length && *start.length != range->complete - range->first)) {
    return std::nullopt;
  }
  start.offset = range->first;
  return start;
}

void ReportPlatformFailure(const platform::HttpError& error) {
  platform::WriteOut(L"Error Code: " + std::to_wstring(static_cast<int>(error.Code())) + L"\n");
  platform::WriteOut(error.Description() + L"\n");
}

// Reads the body into sink within limits; true when all of it, at least one byte, was taken
// and accepted. Why the sink or the limits ended it goes to refusal. A body that does not end
// by Close is abandoned, so the sink keeps what it took.
bool ReadBody(platform::HttpRequest& request, const BodyStart& start, BodySink& sink,
              TransferWatch& watch, const TransferLimits& limits, Outcome& refusal) {
  const auto declared = start.length;
  refusal = sink.Open(start);
  if (!refusal) throw CTearException(CTearException::kFileNotCreated);
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
    refusal = sink.Take(buffer.data(), size);
    if (!refusal) return false;
    received += size;
    if (limits.progress != nullptr) {
      // What was kept from before counts as there.
      limits.progress->Update(start.offset + received,
                              declared ? std::optional(start.offset + *declared) : std::nullopt);
    }
    refusal = watch.Check(received, TransferWatch::Clock::now());
    if (!refusal) return false;
  }
  body.closed = true;
  refusal = sink.Close();
  if (!refusal) return false;
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
  return Fetch(url, file, TransferLimits::File()).stored ? 1 : 0;
}

FetchOutcome CHttpDownloader::Fetch(const std::wstring& url, BodySink& sink,
                                    const TransferLimits& limits, const ResumeFrom* resume) {
  FetchOutcome fetched;
  TransferWatch watch(limits, TransferWatch::Clock::now());
  const FetchTerms terms{RequestHeaders(resume), resume, watch};
  platform::ForgetCachedUrl(url);
  const platform::HttpSession session(kAgentName);
  Connection connection;
  Request request;
  try {
    platform::HttpUrl parts;
    if (!session.CrackUrl(url, parts) || !parts.isHttp) {
      Fail(CTearException::kBadUrl, L"Error: can only use URLs beginning with http://\n");
    }
    const int status = AcceptStatus(Exchange(session, parts, connection, request, true, terms),
                                    session, connection, request, terms);
    const std::wstring head = request->RawHeaders();
    if (LengthsContradict(head)) {
      Fail(CTearException::kBadStatus, L"Error: the answer declares two different lengths\n");
    }
    const auto start = StartOf(status, head, resume);
    if (!start) {
      fetched.otherRange = true;
      fetched.refusal = Outcome::No("the server sent other bytes than the rest asked for");
      throw CTearException(CTearException::kBadStatus);
    }
    fetched.stored = ReadBody(*request, *start, sink, watch, limits, fetched.refusal);
  } catch (const CTearException& tear) {
    fetched.startRefused = tear.Code() == CTearException::kFileNotCreated;
  } catch (const platform::HttpError& error) {
    ReportPlatformFailure(error);
    // The platform counts the time limit from its own start, a little after the watch's.
    const auto slack = std::chrono::milliseconds(100);
    if (error.Code() == kTimeoutError) {
      fetched.refusal = watch.Overdue(TransferWatch::Clock::now() + slack);
    }
  } catch (const std::exception&) {
  }
  request.reset();
  connection.reset();
  if (limits.progress != nullptr) limits.progress->Finish();
  // A time-out of the platform is the deadline's doing when the deadline has passed.
  if (fetched.refusal && !fetched.stored)
    fetched.refusal = watch.Overdue(TransferWatch::Clock::now());
  return fetched;
}
