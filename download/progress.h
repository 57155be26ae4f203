// What both libcurl downloaders' progress functions share: the throttle of
// their reports and the watch over a request's first answer. libcurl calls
// a progress function many times a second while data flows, and about once
// a second while it waits.
#pragma once

#include <windows.h>
#include <curl/curl.h>

#include <cstdint>

namespace download {

// Reports at most once per calendar second, and only a percentage that
// moved by minStepPercent since the last report (0: any percentage above 0).
// The single stream reports every second; the segmented downloader only
// whole percentage points, so its two parts never report the same one twice.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(double minStepPercent) : minStep_(minStepPercent) {}
  // True, and remembers the second, when this calendar second has not been
  // evaluated yet.
  bool SecondPassed();
  // True, and remembers the percentage, when it may be reported.
  bool Advanced(double percent);
  double lastPercent() const { return lastPercent_; }
  void Reset() { lastPercent_ = 0.0; }

 private:
  const double minStep_;
  int64_t lastSecond_ = 0;
  double lastPercent_ = 0.0;
};

// One request's first answer (connection and status line): the progress
// function ends the request once none has come within its bound. A
// transfer that has begun keeps only its stall limit.
class FirstAnswerWatch {
 public:
  void Begin(DWORD boundMs);
  // From the request's progress function: true when it must end now.
  bool Overdue(CURL* handle);
  // The ended request's result, an abort for want of an answer as a timeout.
  CURLcode Result(CURLcode code) const {
    return overdue_ && code == CURLE_ABORTED_BY_CALLBACK ? CURLE_OPERATION_TIMEDOUT : code;
  }

 private:
  DWORD start_ = 0;
  DWORD bound_ = 0;
  bool answered_ = false;
  bool overdue_ = false;
};

}  // namespace download
