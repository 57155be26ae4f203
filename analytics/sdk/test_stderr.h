// Test helper: collects what the code under test writes to std::cerr.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace analytics_core::testing {

class StderrCapture {
 public:
  StderrCapture() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StderrCapture() { std::cerr.rdbuf(old_); }
  std::string Take() {
    std::string s = text_.str();
    text_.str({});
    return s;
  }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
};

}  // namespace analytics_core::testing
