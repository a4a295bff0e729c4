// The one error model: a value, or the errno of what failed with the operation and its path.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace platform {

// What failed: the errno and what was being done to what ("open /a/b.txt").
struct Error {
  int err = 0;
  std::string context;
  // "context: 28 (No space left on device)", for a person.
  std::string message() const;
};

// The errno as it stands now (call it right after the failing call), with the context.
Error last_error(std::string context);

// A value or the Error that kept it from being made. Check before taking the value: value() of
// an error throws std::bad_variant_access.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const { return v_.index() == 0; }
  explicit operator bool() const { return has_value(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T value_or(T fallback) const& { return has_value() ? value() : std::move(fallback); }
  const Error& error() const { return std::get<1>(v_); }
  // 0 for a value, else the errno: for callers that only branch on the kind of failure.
  int err() const { return has_value() ? 0 : error().err; }

 private:
  std::variant<T, Error> v_;
};

// Success, or the Error of what failed.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return !failed_; }
  const Error& error() const { return error_; }
  int err() const { return failed_ ? error_.err : 0; }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace platform

// An error number with its text, as the log shows it: "28 (No space left on device)".
std::string errno_text(int error);
