#include "download/progress.h"

#include <ctime>

#include "platform/log.h"

namespace download {

bool ProgressThrottle::SecondPassed() {
  const int64_t now = _time64(nullptr);
  if (now <= lastSecond_) return false;
  lastSecond_ = now;
  return true;
}

bool ProgressThrottle::Advanced(double percent) {
  if (percent <= 0.0 || (minStep_ > 0.0 && percent - lastPercent_ < minStep_)) return false;
  lastPercent_ = percent;
  return true;
}

void FirstAnswerWatch::Begin(DWORD boundMs) {
  start_ = GetTickCount();
  bound_ = boundMs;
  answered_ = false;
  overdue_ = false;
}

bool FirstAnswerWatch::Overdue(CURL* handle) {
  if (answered_ || overdue_) return overdue_;
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status != 0) {
    answered_ = true;
    return false;
  }
  if (GetTickCount() - start_ < bound_) return false;
  overdue_ = true;
  OV_LOGS(L"no answer within %lu ms", static_cast<unsigned long>(bound_));
  return true;
}

}  // namespace download
