// The agent's HTTP download client: one GET exchange per fetch, redirects followed by the
// client itself, the body delivered as text or into a file. Failures are reported by the
// result and by a line on standard error or standard output.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
class HttpRequest;
}

class CHttpDownloader {
 public:
  CHttpDownloader() = default;
  virtual ~CHttpDownloader() = default;
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // Fetches url (an absolute URL) as text in the system code page. Returns the text; empty
  // when nothing was received. After a failure it holds what had arrived before it.
  // Switches the object to text mode for good.
  std::wstring DownloadToString(const std::wstring& url);

  // Fetches url into the file at path (created, or truncated, when the answer is accepted).
  // Returns 1 when the whole body, at least one byte, is in the file; 0 otherwise. Only for
  // an object that has not served DownloadToString.
  int DownloadToFile(const std::wstring& url, const std::wstring& path);

  // One exchange for the current URL; 1 when a body was stored completely, else 0. Throws
  // platform::HttpError only when the internet session cannot be opened.
  int Fetch();

 private:
  int ReadBody(platform::HttpRequest& request, std::string& textBytes);

  std::int32_t textMode_ = 0;
  std::wstring text_;
  const wchar_t* url_ = nullptr;  // the caller's string, alive during the call
  std::wstring targetPath_;
};
