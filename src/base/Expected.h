#pragma once
// The result of an operation that can fail: its value, or an Error that says why in the user's
// words. Every module boundary returns one instead of a status code beside a reason in a member
// or an out-parameter, so that a caller cannot read a value that was never made, and the reason
// travels with the failure up to the front end that shows it.
#include <cassert>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace zentrova {

// What kind of failure, for the callers that act on it rather than only show it. Most only show
// the reason.
enum class ErrorKind {
  Failed,     // the operation could not be done; the reason says why
  End,        // nothing is left to read: the last frame was delivered before
  Cancelled,  // the user asked to stop while it ran
};

struct Error {
  std::string reason;  // one line, ready to be shown ("text1 is 1001 bytes long, ...")
  ErrorKind kind = ErrorKind::Failed;
};

inline Error Failure(std::string reason, ErrorKind kind = ErrorKind::Failed) { return Error{std::move(reason), kind}; }

template <class T>
class [[nodiscard]] Expected {
 public:
  // From anything the value can be made of (a unique_ptr of a derived class, say).
  template <class U = T>
    requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::remove_cvref_t<U>, Error> &&
             !std::is_same_v<std::remove_cvref_t<U>, Expected>)
  Expected(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // The value, or `fallback` when there is none.
  T valueOr(T fallback) && { return ok() ? std::get<0>(std::move(state_)) : std::move(fallback); }

  const Error& error() const {
    assert(!ok());
    return std::get<1>(state_);
  }
  const std::string& reason() const { return error().reason; }
  ErrorKind kind() const { return error().kind; }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }

  const Error& error() const {
    assert(!ok());
    return *error_;
  }
  const std::string& reason() const { return error().reason; }
  ErrorKind kind() const { return error().kind; }

 private:
  std::optional<Error> error_;
};

}  // namespace zentrova
