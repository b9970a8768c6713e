// Scope guards: a cleanup said once, where it would otherwise be written twice, in a catch
// block that rethrows and again after the try.
//
// `ScopeExit` runs its action however the scope is left; `OnFailure` only when it is left by
// an exception. OnFailure compares std::uncaught_exceptions() with the count when it was made,
// so a guard in code that itself runs during unwinding (a destructor) still tells its own
// scope's failure from the one already in flight.
//
// The action runs in a destructor and must not throw. A cleanup that can raise an error of
// its own (one that fires events or notifies data links) stays an explicit catch block, where
// its error replaces the one in flight instead of ending the program.
#pragma once

#include <exception>
#include <utility>

namespace core {

template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { action_(); }

 private:
  Action action_;
};

template <typename Action>
class OnFailure {
 public:
  explicit OnFailure(Action action)
      : action_(std::move(action)), exceptions_(std::uncaught_exceptions()) {}
  OnFailure(const OnFailure&) = delete;
  OnFailure& operator=(const OnFailure&) = delete;
  ~OnFailure() {
    if (std::uncaught_exceptions() > exceptions_) action_();
  }

 private:
  Action action_;
  int exceptions_;
};

}  // namespace core
