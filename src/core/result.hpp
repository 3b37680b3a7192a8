// A value or an error, never both: the core reports every failure this way and throws
// nothing for bad input.
#pragma once

#include <utility>
#include <variant>

namespace morvex {

template <class E>
struct Failure {
  E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <class F>
  Result(Failure<F> failure) : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& value() const& { return std::get<0>(state_); }
  T* operator->() { return &value(); }
  T& operator*() & { return value(); }

  E& error() & { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }
  const E& error() const& { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// A step that yields nothing but may fail.
template <class E>
using Status = Result<std::monostate, E>;
inline constexpr std::monostate succeeded{};

}  // namespace morvex
