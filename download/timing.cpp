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

bool StopSignal::Pause(DWORD wantedMs) const {
  const DWORD ms = g_timing.pause ? g_timing.pause(wantedMs) : wantedMs;
  return WaitForSingleObject(event_.get(), ms) != WAIT_OBJECT_0;
}

}  // namespace download
