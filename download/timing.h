// Pauses between attempts and stall limits of the downloaders, replaceable
// in tests so retry budgets run at once. The defaults are the product's.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/handles.h"

namespace download {

struct Timing {
  // Maps a wanted pause (500 ms single stream, 400 ms per part, 1000 ms
  // system downloader) onto the one taken; null keeps the wanted pause.
  DWORD (*pause)(DWORD wantedMs) = nullptr;
  // A transfer slower than 1 byte/s for this long ends as a failed attempt.
  long singleStreamStallSeconds = 60;
  long partStallSeconds = 5;
  // A request that has no answer (connection and first byte) after this
  // long ends as a failed attempt: a server that accepts and never answers
  // would otherwise hold each request for a full stall limit.
  DWORD firstAnswerMs = 15000;
  // Attempts end, and the failure is reported, once nothing has arrived from
  // the server for this long across them.
  DWORD silentSeriesMs = 60000;
};

const Timing& CurrentTiming();
// Returns the previous timing. Set it before any downloader runs.
Timing SetTimingForTesting(const Timing& timing);

// Time since the server last sent anything, across the attempts of one
// download; the attempts end when it passes Timing::silentSeriesMs. Part
// threads share one clock.
class SilenceClock {
 public:
  void Restart() { heard_ = GetTickCount(); }  // a series of attempts begins
  void Heard() { heard_ = GetTickCount(); }    // an answer or a byte arrived
  bool Exhausted() const;
  // The bound of the next request's first answer: the first-answer limit,
  // or what remains of the series when that is less (at least 1 ms).
  DWORD RequestBoundMs() const;

 private:
  std::atomic<DWORD> heard_{GetTickCount()};
};

// Set once, when the owning downloader is being destroyed: threads stop
// their transfers and pauses early and make no further callbacks.
class StopSignal {
 public:
  StopSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Set() { SetEvent(event_.get()); }
  bool IsSet() const { return WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0; }
  // Takes the (possibly replaced) pause; false when stopped meanwhile.
  bool Pause(DWORD wantedMs) const;

 private:
  Utils::UniqueHandle event_;
};

}  // namespace download
