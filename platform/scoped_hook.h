// Puts a replaceable process-wide function or object (a test seam) in place
// for one scope. The setter installs a value and returns the one it
// replaced; the destructor puts that one back, so a failing assertion
// between the two cannot leave the replacement behind for later tests.
#pragma once

#include <utility>

namespace Utils {

template <typename Value>
class ScopedHook {
 public:
  using Setter = Value (*)(Value);

  ScopedHook(Setter set, Value value) : set_(set), previous_(set(std::move(value))) {}
  ~ScopedHook() { set_(std::move(previous_)); }
  ScopedHook(const ScopedHook&) = delete;
  ScopedHook& operator=(const ScopedHook&) = delete;

 private:
  Setter set_;
  Value previous_;
};

// The value may be anything the setter's parameter converts from (a lambda,
// an int for a DWORD).
template <typename Value, typename Argument>
ScopedHook(Value (*)(Value), Argument) -> ScopedHook<Value>;

}  // namespace Utils
