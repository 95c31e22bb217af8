// The exception that abandons a download; the download client catches it itself.
#pragma once

#include <exception>

class CTearException : public std::exception {
 public:
  // Codes in use.
  static constexpr int kBadUrl = 1;          // URL does not parse, is not http, or 401 answer
  static constexpr int kBadRedirect = 2;     // redirect without a usable http location
  static constexpr int kFileNotCreated = 4;  // the target file cannot be created
  static constexpr int kTimedOut = 5;        // the fetch's deadline passed before a request
  static constexpr int kBadStatus = 33;      // any other status than the accepted ones

  explicit CTearException(int code) : code_(code) {}
  ~CTearException() override = default;

  int Code() const { return code_; }
  const char* what() const noexcept override { return "download abandoned"; }

 private:
  int code_;
};
