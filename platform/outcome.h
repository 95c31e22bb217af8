// How a step that can refuse ended: done, or why not. The one shape our own code says "no"
// in; the reason is UTF-8 text for a person (a log line, a console line), never parsed.
#pragma once

#include <optional>
#include <string>
#include <utility>

class [[nodiscard]] Outcome {
 public:
  Outcome() = default;  // done

  // Not done, because of why (not empty: an empty reason reads as "refused").
  static Outcome No(std::string why) {
    Outcome outcome;
    outcome.why_ = why.empty() ? std::string("refused") : std::move(why);
    return outcome;
  }

  bool ok() const { return why_.empty(); }
  explicit operator bool() const { return ok(); }
  // Why not; "" when done.
  const std::string& why() const { return why_; }

 private:
  std::string why_;
};

// A value, or why there is none.
template <class T>
class [[nodiscard]] OrWhy {
 public:
  OrWhy(T value) : value_(std::move(value)) {}  // NOLINT: a value converts, as a result
  OrWhy(Outcome no) : why_(no.ok() ? Outcome::No("") : std::move(no)) {}  // NOLINT

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // The value; only when ok().
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return &*value_; }
  T* operator->() { return &*value_; }
  // Why there is no value; "" when there is one.
  const std::string& why() const { return why_.why(); }
  // The refusal as an outcome of its own, to be handed on.
  const Outcome& outcome() const { return why_; }

 private:
  std::optional<T> value_;
  Outcome why_;
};
