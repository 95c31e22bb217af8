#include "agent/http/transfer_limits.h"

#include "agent/http/body_sink.h"

namespace {

std::string Duration(std::chrono::steady_clock::duration duration) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

std::string TransferWatch::Check(std::uint64_t received, Clock::time_point now) {
  if (limits_.deadline && now - fetchStart_ > *limits_.deadline) {
    return "the page did not end within " + Duration(*limits_.deadline);
  }
  if (!limits_.floor || now - windowStart_ < limits_.floor->window) return "";
  if (received - windowStartBytes_ < limits_.floor->bytes) {
    return "slower than " + ByteCount(limits_.floor->bytes) + " in " +
           Duration(limits_.floor->window);
  }
  windowStart_ = now;
  windowStartBytes_ = received;
  return "";
}
