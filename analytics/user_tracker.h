// User profile properties: which profile operation of the core each
// supported key takes, and the four typed update calls. Called on the
// thread of the track operation that updates the profile.
#pragma once

#include <cstdint>
#include <string>

namespace pelan::tracking {

enum class ProfileOp { None = 0, SetOnce = 1, Increment = 2, Set = 3, Append = 4 };

// The operation for a key; None for a key that is not supported.
ProfileOp profileOperation(const std::string& key);

// Each raises PlException for an unsupported key or an operation that does
// not fit the value, else queues the profile record for the current user.
struct NativeUserTracker {
  static void ProfileUserPropertyString(const std::string& key, const std::string& value);
  static void ProfileUserPropertyNumber(const std::string& key, int32_t value);
  static void ProfileUserPropertyNumber(double consumption);  // always "pl_consumption"
  static void ProfileUserPropertyDateTime(const std::string& key, int64_t timestamp);
};

}  // namespace pelan::tracking
