// The outcome of a step made of system calls, keeping its cause: success,
// or the first failing call's error code (GetLastError, or what a registry
// function returned). Whoever handles the failure logs the code.
#pragma once

#include <windows.h>

namespace Utils {

struct SystemResult {
  DWORD error = ERROR_SUCCESS;

  explicit operator bool() const { return error == ERROR_SUCCESS; }

  // After a call that reported failure. A call that failed without setting
  // an error must still read as a failure.
  static SystemResult LastError() {
    const DWORD code = GetLastError();
    return {code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE};
  }
};

}  // namespace Utils
