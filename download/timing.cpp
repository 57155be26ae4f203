#include "download/timing.h"

namespace download {
namespace {
Timing g_timing;
}  // namespace

const Timing& CurrentTiming() { return g_timing; }

Timing SetTimingForTesting(const Timing& timing) {
  const Timing previous = g_timing;
  g_timing = timing;
  return previous;
}

bool SilenceClock::Exhausted() const { return GetTickCount() - heard_ >= g_timing.silentSeriesMs; }

DWORD SilenceClock::RequestBoundMs() const {
  const DWORD silent = GetTickCount() - heard_;
  const DWORD left = silent < g_timing.silentSeriesMs ? g_timing.silentSeriesMs - silent : 1;
  return left < g_timing.firstAnswerMs ? left : g_timing.firstAnswerMs;
}

bool StopSignal::Pause(DWORD wantedMs) const {
  const DWORD ms = g_timing.pause ? g_timing.pause(wantedMs) : wantedMs;
  return WaitForSingleObject(event_.get(), ms) != WAIT_OBJECT_0;
}

}  // namespace download
