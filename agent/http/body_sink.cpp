#include "agent/http/body_sink.h"

#include "platform/text.h"

std::string ByteCount(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

Outcome TextSink::Open(const BodyStart& start) {
  bytes_.clear();
  return start.offset == 0 ? Outcome() : Outcome::No("a page is never resumed");
}

Outcome TextSink::Take(const char* data, std::size_t size) {
  const std::size_t room = limitBytes_ - bytes_.size();
  bytes_.append(data, size < room ? size : room);
  if (size > room) return Outcome::No("the page is longer than " + ByteCount(limitBytes_));
  return {};
}

std::wstring TextSink::Text() const {
  std::string text;
  text.reserve(bytes_.size());
  for (const char c : bytes_) {
    if (c != '\0') text += c;
  }
  return platform::FromSystemCodePage(text);
}
