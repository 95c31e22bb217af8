#include "agent/run/terminal_progress.h"

#include <chrono>
#include <cstdio>

#include "platform/console.h"
#include "platform/terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

std::wstring Megabytes(std::uint64_t bytes) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

class TerminalProgress : public DownloadProgress {
 public:
  void Update(std::uint64_t received, std::optional<std::uint64_t> total) override {
    const auto now = Clock::now();
    if (shown_ && now - lastDraw_ < kRedrawInterval) return;
    if (!shown_) start_ = now;
    shown_ = true;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::wstring line = L"\r" + Megabytes(received);
    if (total) line += L" of " + Megabytes(*total);
    if (seconds > 0.5)
      line += L", " + Megabytes(static_cast<std::uint64_t>(received / seconds)) + L"/s";
    platform::WriteOut(line + L"    ");
  }

  void Finish() override {
    if (shown_) platform::WriteOut(L"\n");
    shown_ = false;
  }

 private:
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
};

}  // namespace

std::unique_ptr<DownloadProgress> MakeTerminalProgress() {
  if (!platform::StandardOutputIsTerminal()) return nullptr;
  return std::make_unique<TerminalProgress>();
}
