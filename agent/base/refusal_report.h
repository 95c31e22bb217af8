// Where code that refuses something says what and why. The run sequence makes the run's
// report, which writes each refusal as one line; code below it only hands refusals on. An
// empty report drops them, on purpose: its caller has said it does not want them.
#pragma once

#include <functional>
#include <string>

// what: the refused thing (a URL, `package "enus"`); why: the reason, UTF-8.
using RefusalReport = std::function<void(const std::wstring& what, const std::string& why)>;

inline void Report(const RefusalReport& report, const std::wstring& what, const std::string& why) {
  if (report) report(what, why);
}
