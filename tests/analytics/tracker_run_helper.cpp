// One run of the tracker as its own process, for the zero-loss loop:
//   tracker_run_helper <appName> <serverUrl> <first> <count> <progress> [killAfter] [killAtWrite]
// Tracks the task events "Z<first>" .. "Z<first+count-1>", asking for a flush
// after every 50th, then shuts the tracker down as the installer does at exit.
// killAfter > 0 ends the process (no shutdown) right after that many events;
// killAtWrite > 0 ends it inside the staging file's nth rewrite. The named
// shared memory <progress> holds two counts, events whose track call began
// and events whose call returned, so the caller knows where a killed run
// stopped.
#include <windows.h>

#include <curl/curl.h>

#include <cstdlib>
#include <string>

#include "analytics/event_tracker.h"
#include "analytics/sdk/record_queue.h"

namespace {

int g_writesLeft = -1;

void KillInsideWrite(analytics_core::StagingWritePoint) {
  if (g_writesLeft > 0 && --g_writesLeft == 0) TerminateProcess(GetCurrentProcess(), 9);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  curl_global_init(CURL_GLOBAL_ALL);
  const int first = std::atoi(argv[3]);
  const int count = std::atoi(argv[4]);
  const int killAfter = argc > 6 ? std::atoi(argv[6]) : 0;
  const int killAtWrite = argc > 7 ? std::atoi(argv[7]) : 0;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, argv[5]);
  auto* progress =
      mapping ? static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 2 * sizeof(LONG))) : nullptr;
  if (!progress) return 3;
  if (killAtWrite > 0) {
    // Each rewrite passes the hook twice (temporary file half written, then
    // before it replaces the staging file): odd numbers land in the middle of
    // the write, even ones just before the replace.
    g_writesLeft = killAtWrite;
    analytics_core::SetStagingWriteHookForTesting(KillInsideWrite);
  }
  pelan::tracking::EventTrackerConfig config;
  config.appName = argv[1];
  config.appVersion = "1.0";
  config.appStore = "zero-loss.exe";
  config.serverUrl = argv[2];
  auto tracker = pelan::tracking::CreateSharedTracker(config);
  for (int i = 0; i < count; ++i) {
    pelan::tracking::PlEventTask task;
    task.name = "Z" + std::to_string(first + i);
    InterlockedExchange(&progress[0], i + 1);
    tracker->trackTask(task, {});
    InterlockedExchange(&progress[1], i + 1);
    if (killAfter > 0 && i + 1 == killAfter) TerminateProcess(GetCurrentProcess(), 9);
    if ((i + 1) % 50 == 0) tracker->trackUninstall("flush", {});
  }
  tracker.reset();
  curl_global_cleanup();
  return 0;
}
