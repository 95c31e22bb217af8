#include "agent/http/transfer_limits.h"

#include <algorithm>

#include "agent/http/body_sink.h"

namespace {

std::string Duration(std::chrono::steady_clock::duration duration) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

Outcome TransferWatch::Overdue(Clock::time_point now) const {
  if (!limits_.deadline || now - fetchStart_ <= *limits_.deadline) return {};
  return Outcome::No(std::string(limits_.what) + " did not end within " +
                     Duration(*limits_.deadline));
}

std::optional<std::chrono::milliseconds> TransferWatch::Left(Clock::time_point now) const {
  using std::chrono::milliseconds;
  if (!limits_.deadline) return std::nullopt;
  const auto left = fetchStart_ + *limits_.deadline - now;
  if (left <= Clock::duration::zero()) return milliseconds(0);
  return std::max(milliseconds(1), std::chrono::duration_cast<milliseconds>(left));
}

Outcome TransferWatch::Check(std::uint64_t received, Clock::time_point now) {
  if (Outcome overdue = Overdue(now); !overdue) return overdue;
  if (!limits_.floor || now - windowStart_ < limits_.floor->window) return {};
  if (received - windowStartBytes_ < limits_.floor->bytes) {
    return Outcome::No("slower than " + ByteCount(limits_.floor->bytes) + " in " +
                       Duration(limits_.floor->window));
  }
  windowStart_ = now;
  windowStartBytes_ = received;
  return {};
}
