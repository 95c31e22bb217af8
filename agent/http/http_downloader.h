// The agent's HTTP download client: one GET exchange per fetch, redirects followed by the
// client itself, the body handed to a sink (a bounded page in memory, or a file). Failures
// are reported by the result and by a line on standard error or standard output.
#pragma once

#include <string>

#include "agent/http/body_sink.h"

namespace platform {
class HttpRequest;
}

class CHttpDownloader {
 public:
  CHttpDownloader() = default;
  virtual ~CHttpDownloader() = default;
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Fetches url (an absolute URL) as a page (TextSink) and returns its text in the system
  // code page; empty when nothing was received. After a failure it holds what had arrived
  // before it.
  std::wstring DownloadToString(const std::wstring& url);

  // Fetches url into the file at path (created, or truncated, when the answer is accepted).
  // Returns 1 when the whole body, at least one byte, is in the file; 0 otherwise.
  int DownloadToFile(const std::wstring& url, const std::wstring& path);

  // One exchange for url, its body into sink. 1 when the whole body, at least one byte,
  // reached the sink and the sink accepted it; else 0. A refusal of the sink is reported on
  // standard error as "Refused <url>: <why>". Throws platform::HttpError only when the internet
  // session cannot be opened.
  int Fetch(const std::wstring& url, BodySink& sink);
};
