// The agent's HTTP download client: one GET exchange per fetch, redirects followed by the
// client itself, the body handed to a sink (a bounded page in memory, or a file). Failures
// are reported by the result and by a line on standard error or standard output.
#pragma once

#include <cstdint>
#include <string>

#include "agent/http/body_sink.h"
#include "agent/http/transfer_limits.h"

namespace platform {
class HttpRequest;
}

// The rest of a resource of which a sink keeps the first offset bytes, asked for with
// "Range" and "If-Range", so that a resource that changed since comes whole instead.
struct ResumeFrom {
  std::uint64_t offset = 0;
  std::string entityTag;       // the strong ETag the kept bytes came with
  std::uint64_t complete = 0;  // the resource's size
};

// How a fetch ended: stored, or not. Why a body was refused (by its sink, its limits or a
// range it did not ask for) is the caller's to report; a plain failure (no answer, an error
// status) leaves the refusal ok, since the client has written it out itself.
struct FetchOutcome {
  bool stored = false;  // the whole body, at least one byte, reached the sink and was accepted
  Outcome refusal;
  // The refusal: a 206 answer held other bytes than the rest asked for, so the bytes kept
  // from before cannot be trusted to go with it.
  bool otherRange = false;
  // The refusal: the sink refused the body's start (its file cannot be made, or the bytes it
  // keeps from before cannot be read again).
  bool startRefused = false;
};

class CHttpDownloader {
 public:
  CHttpDownloader() = default;
  virtual ~CHttpDownloader() = default;
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Fetches url (an absolute URL) as a page (TextSink, TransferLimits::Page) and returns its
  // text in the system code page; empty when nothing was received. After a failure it holds
  // what had arrived before it.
  std::wstring DownloadToString(const std::wstring& url);

  // Fetches url into the file at path (created, or truncated, when the answer is accepted),
  // within TransferLimits::File. Returns 1 when the whole body, at least one byte, is in the file;
  // 0 otherwise.
  int DownloadToFile(const std::wstring& url, const std::wstring& path);

  // One exchange for url, its body into sink within limits. Throws platform::HttpError only
  // when the internet session cannot be opened.
  //
  // With resume, only the rest is asked for: a 206 answer counts only when it holds exactly
  // the bytes from resume->offset to the end of a resource of resume->complete bytes, and
  // goes to the sink with that offset; a 200 answer is the whole resource, from offset 0.
  FetchOutcome Fetch(const std::wstring& url, BodySink& sink, const TransferLimits& limits,
                     const ResumeFrom* resume = nullptr);
};
