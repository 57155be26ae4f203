// The tracking layer's one exception type. It never leaves the layer: the
// tracker wrapper catches it per operation, and the installer's report
// functions catch what their own A/B check raises.
#pragma once

#include <string>

#include "analytics/sdk/property_node.h"

namespace pelan::tracking {

class PlException : public analytics_core::Error {
 public:
  PlException(const std::string& message, const char* file, const char* function, int line)
      : analytics_core::Error(message), file_(file), function_(function), line_(line) {}
  const std::string& file() const { return file_; }
  const std::string& function() const { return function_; }
  int line() const { return line_; }

 private:
  std::string file_;
  std::string function_;
  int line_;
};

}  // namespace pelan::tracking

// `function` is the operation's public name ("trackClick", "init", ...).
#define PL_THROW(message, function) throw ::pelan::tracking::PlException((message), __FILE__, (function), __LINE__)
