// The head of an HTTP answer: status number, redirect target, declared body length.
#include <cstddef>
#include <cstdint>

#include "agent/http/response_head.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring head = fuzz::WideText(data, size);
  const int status = StatusNumber(head);
  fuzz::Require(status >= 0 && status <= 999999, "a status has at most six digits");
  std::wstring location;
  if (FindRedirectLocation(head, location)) {
    fuzz::Require(head.find(location) != std::wstring::npos, "the location is part of the head");
  }
  const auto length = DeclaredContentLength(head);
  if (length && *length > 0) {
    fuzz::Require(head.find(std::to_wstring(*length)) != std::wstring::npos,
                  "a declared length is written in the head");
  }
  return 0;
}
