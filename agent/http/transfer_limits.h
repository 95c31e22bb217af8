// How long a transfer may take, and who watches it: limits of the transfer loop, whatever
// sink the body goes to.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/outcome.h"

// Told how a download proceeds; total is the declared length when known.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  virtual void Update(std::uint64_t received, std::optional<std::uint64_t> total) = 0;
  // The fetch is over, however it ended; called once per fetch.
  virtual void Finish() = 0;
};

// How long a download may crawl: a body is refused when fewer than bytes arrive in a window
// of that length, so that a server dripping bytes cannot hold the run for good.
struct RateFloor {
  std::uint64_t bytes = 16 * 1024;
  std::chrono::steady_clock::duration window = std::chrono::seconds(30);
};

struct TransferLimits {
  // From the start of the fetch to the body's end, connecting and every redirect included;
  // none: no deadline.
  std::optional<std::chrono::steady_clock::duration> deadline;
  // From the body's start; none: any pace.
  std::optional<RateFloor> floor;
  DownloadProgress* progress = nullptr;  // may be nullptr
  const char* what = "the page";         // what a missed deadline names

  // A page: short, so it must end soon.
  static TransferLimits Page() { return {std::chrono::seconds(30), std::nullopt, nullptr}; }
  // A file: as long as it takes, as long as it keeps moving.
  static TransferLimits File(DownloadProgress* progress = nullptr) {
    return {std::nullopt, RateFloor{}, progress, "the file"};
  }
};

// Holds one fetch to its limits as the body arrives. Pure: the caller says what time it is.
class TransferWatch {
 public:
  using Clock = std::chrono::steady_clock;

  TransferWatch(const TransferLimits& limits, Clock::time_point fetchStart)
      : limits_(limits), fetchStart_(fetchStart), windowStart_(fetchStart) {}

  // The body starts arriving now.
  void BodyStarts(Clock::time_point now) { windowStart_ = now; }
  // Why the fetch must end, with received body bytes at now; ok while it may go on.
  Outcome Check(std::uint64_t received, Clock::time_point now);
  // Why the fetch must end by its deadline at now; ok while it may go on.
  Outcome Overdue(Clock::time_point now) const;
  // The time left before the deadline at now, at least 1 ms while it has not passed; none
  // without a deadline, zero once it has passed.
  std::optional<std::chrono::milliseconds> Left(Clock::time_point now) const;

 private:
  TransferLimits limits_;
  Clock::time_point fetchStart_;
  Clock::time_point windowStart_;
  std::uint64_t windowStartBytes_ = 0;
};
