// How a file-system service ended. The services say apart "done", "missing" (the path, or a
// directory on the way to it, does not exist) and "failed" for any other reason; a result
// that is not done carries the system's error number and the path it concerns, and its
// description is the system's text for that number followed by the path.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class FileOutcome { Done, Missing, Failed };

class FileResult {
 public:
  FileResult() = default;  // done

  // The one place of each backend where a system error number (errno, GetLastError) becomes
  // an outcome; the path is the one the failure concerns.
  static FileResult FromSystemError(std::uint32_t code, const std::wstring& path);
  // Done when done is true, else FromSystemError with the calling thread's last error.
  static FileResult Of(bool done, const std::wstring& path);
  // A failure that a backend found itself, with the error number the system would give for
  // it; never "missing".
  static FileResult Failure(std::uint32_t code, const std::wstring& path) {
    return FileResult(FileOutcome::Failed, code, path);
  }

  FileOutcome outcome() const { return outcome_; }
  bool ok() const { return outcome_ == FileOutcome::Done; }
  explicit operator bool() const { return ok(); }
  bool IsMissing() const { return outcome_ == FileOutcome::Missing; }
  // The system's error number; 0 when done.
  std::uint32_t code() const { return code_; }
  const std::wstring& path() const { return path_; }

  // The system's message for code() without surrounding white space; "" when done or when
  // the system has no text for it.
  std::wstring SystemText() const;
  // SystemText(), then a blank and detail unless detail is empty; "" when done.
  std::string Describe(const std::wstring& detail) const;
  // Describe(path()).
  std::string Describe() const { return Describe(path_); }

 private:
  FileResult(FileOutcome outcome, std::uint32_t code, const std::wstring& path)
      : outcome_(outcome), code_(code), path_(path) {}

  FileOutcome outcome_ = FileOutcome::Done;
  std::uint32_t code_ = 0;
  std::wstring path_;
};

}  // namespace platform
