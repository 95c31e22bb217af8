// Where the body of an accepted answer goes: the download client pulls the body and hands
// it on piece by piece; a sink decides what it keeps. Sinks compose: one that checks hands
// what passes to the next one, which stores it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/outcome.h"

// What an accepted answer says of the body that follows it.
struct BodyStart {
  // Where in the resource the body begins: 0 for the whole resource, or the end of the bytes
  // a sink kept from before, when the server sent only the rest.
  std::uint64_t offset = 0;
  std::optional<std::uint64_t> length;  // the body's own Content-Length, when declared
  std::string entityTag;                // the answer's strong ETag, quotes included; "": none
};

class BodySink {
 public:
  virtual ~BodySink() = default;

  // The answer was accepted and its body follows: ok, or why the body cannot be taken (a
  // sink that keeps nothing from before refuses a start past 0): the fetch fails.
  virtual Outcome Open(const BodyStart& start) = 0;
  // The next piece of the body, or why the sink refuses it: the fetch ends at once.
  virtual Outcome Take(const char* data, std::size_t size) = 0;
  // The body has ended: ok, or why the sink cannot accept what it got.
  virtual Outcome Close() = 0;
  // The body ends otherwise than by Close (a refusal, a failed transfer, a limit): what the
  // sink took so far stays as taken. Called once, and only after a successful Open.
  virtual void Abandon() {}
};

// A page in memory. A page is a short text: a body longer than the limit is refused, and the
// bytes up to the limit are kept.
class TextSink : public BodySink {
 public:
  static constexpr std::size_t kPageLimitBytes = 64 * 1024;

  explicit TextSink(std::size_t limitBytes = kPageLimitBytes) : limitBytes_(limitBytes) {}

  Outcome Open(const BodyStart& start) override;
  Outcome Take(const char* data, std::size_t size) override;
  Outcome Close() override { return {}; }

  // The body's bytes as they arrived.
  const std::string& Bytes() const { return bytes_; }
  // The body as text in the system code page; zero bytes carry no text.
  std::wstring Text() const;

 private:
  std::size_t limitBytes_;
  std::string bytes_;
};

// "<n> bytes", as refusals count.
std::string ByteCount(std::uint64_t bytes);
