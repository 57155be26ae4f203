#include "analytics/installer_events.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "analytics/event_tracker.h"
#include "analytics/pl_exception.h"
#include "platform/log.h"
#include "platform/strings.h"

namespace {

using namespace pelan::tracking;

// How long a crash report waits for its send before the process ends.
constexpr unsigned kCrashSendWaitMs = 5000;
// Events held before the tracker exists; start-up reports at most a few.
constexpr size_t kMaxHeldEvents = 64;

enum class TrackerPhase { NotYetCreated, Created, Gone };

struct HeldEvent {
  enum Kind { Task, Click, View, Crash } kind;
  std::wstring name, reason, ab;
  float elapsed;
};

std::atomic<InstallerEventSink*> g_sink{nullptr};
std::mutex g_lock;  // guards the three below
std::shared_ptr<EventTrackerWrapper> g_tracker;
TrackerPhase g_phase = TrackerPhase::NotYetCreated;
std::vector<HeldEvent> g_held;

std::wstring AbValue(const EventExtras& extras) {
  const auto it = extras.find(L"AB");
  return it == extras.end() ? std::wstring() : it->second;
}

// The shared tracker, or null after holding the event for later.
std::shared_ptr<EventTrackerWrapper> TrackerOrHold(HeldEvent event) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_phase == TrackerPhase::NotYetCreated && g_held.size() < kMaxHeldEvents) g_held.push_back(std::move(event));
  return g_tracker;
}

// The A/B value attached to one event kind. A value that fails the check is
// left off (with a log line) rather than losing the event.
PlContextProperties AbContext(const std::wstring& ab, PlEventKind kind) {
  PlContextProperties context;
  const std::string value = Utils::WideToUtf8(ab);
  try {
    if (PlContextProperties::isValidABValue(value)) context.setProperty(value, {static_cast<uint32_t>(kind)});
  } catch (const PlException& e) {
    OV_LOGS(L"A/B value refused: %s", Utils::Utf8ToWide(e.what()).c_str());
  }
  return context;
}

void SendTask(EventTrackerWrapper& tracker, const HeldEvent& e) {
  PlEventTask task;
  task.name = Utils::WideToUtf8(e.name);
  task.reason = Utils::WideToUtf8(e.reason);
  task.elapsed = e.elapsed;
  task.result = PlResult::Success;  // every installer task, failure reports included
  tracker.trackTask(task, AbContext(e.ab, PlEventKind::Task));
}

void SendClick(EventTrackerWrapper& tracker, const HeldEvent& e) {
  PlEventClick click;
  click.name = Utils::WideToUtf8(e.name);
  click.clickType = PlClickType::Button;
  tracker.trackClick(click, AbContext(e.ab, PlEventKind::Click));
}

void SendView(EventTrackerWrapper& tracker, const HeldEvent& e) {
  PlEventView view;
  view.name = Utils::WideToUtf8(e.name);
  tracker.trackView(view, AbContext(e.ab, PlEventKind::View));
}

void SendCrash(EventTrackerWrapper& tracker, const HeldEvent& e) {
  tracker.trackCrash(Utils::WideToUtf8(e.reason));
  // The crash filter hands the process to the system right after this: wait
  // for the send, and keep what it could not post for the next run.
  tracker.saveBeforeAbnormalExit(kCrashSendWaitMs);
}

void Send(EventTrackerWrapper& tracker, const HeldEvent& e) {
  switch (e.kind) {
    case HeldEvent::Task:
      SendTask(tracker, e);
      break;
    case HeldEvent::Click:
      SendClick(tracker, e);
      break;
    case HeldEvent::View:
      SendView(tracker, e);
      break;
    case HeldEvent::Crash:
      SendCrash(tracker, e);
      break;
  }
}

InstallerAnalytics& Config() {
  static InstallerAnalytics config;  // set once at start-up, before any report
  return config;
}

bool Enabled() { return !Config().enabled || Config().enabled(); }

std::string ThisProgramName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, n);
  return Utils::WideToUtf8(full.substr(full.find_last_of(L"\\/") + 1));
}

void Report(const HeldEvent& e) {
  if (!Enabled()) return;
  if (InstallerEventSink* sink = g_sink.load()) {
    switch (e.kind) {
      case HeldEvent::Task:
        sink->Task(e.name, e.reason, e.elapsed, e.ab);
        break;
      case HeldEvent::Click:
        sink->Click(e.name, e.ab);
        break;
      case HeldEvent::View:
        sink->View(e.name, e.ab);
        break;
      case HeldEvent::Crash:
        sink->Crash(e.reason);
        break;
    }
  }
  if (auto tracker = TrackerOrHold(e)) Send(*tracker, e);
}

}  // namespace

InstallerEventSink* SetInstallerEventSink(InstallerEventSink* sink) { return g_sink.exchange(sink); }

void ConfigureInstallerAnalytics(InstallerAnalytics config) { Config() = std::move(config); }

void ReportTask(const wchar_t* name, const wchar_t* reason, float elapsedSeconds, EventExtras extras) {
  Report({HeldEvent::Task, name ? name : L"", reason ? reason : L"", AbValue(extras), elapsedSeconds});
}

void ReportClick(const wchar_t* name, EventExtras extras) {
  Report({HeldEvent::Click, name ? name : L"", L"", AbValue(extras), 0});
}

void ReportView(EventExtras extras) { Report({HeldEvent::View, L"安装中", L"", AbValue(extras), 0}); }

void ReportCrash() { Report({HeldEvent::Crash, L"", L"崩溃", L"", 0}); }

void CreateTracker(const std::string& serverUrl, analytics_core::PostFunction post) {
  // A tracker made earlier goes first, and whole: the core is one per
  // process, so its shutdown would otherwise take the new tracker's core
  // with it. Its shutdown (up to a few seconds) runs outside the lock;
  // reports made meanwhile are held for the new tracker.
  std::shared_ptr<EventTrackerWrapper> previous;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    previous.swap(g_tracker);
    if (previous) g_phase = TrackerPhase::NotYetCreated;
  }
  if (previous) {
    std::weak_ptr<EventTrackerWrapper> gone = previous;
    previous.reset();
    while (!gone.expired()) Sleep(10);  // a report still using it ends within its own bounds
  }
  const InstallerAnalytics& from = Config();
  std::shared_ptr<EventTrackerWrapper> tracker;
  if (Enabled()) {
    EventTrackerConfig config;
    config.appName = from.appName;
    config.appVersion = from.appVersion;
    config.appStore = from.appStore.empty() ? ThisProgramName() : from.appStore;
    config.dlAppId = from.dlAppId;
    config.dlAppVersion = from.dlAppVersion;
    config.serverUrl = serverUrl;
    config.post = std::move(post);
    tracker = CreateSharedTracker(config);
  }
  std::vector<HeldEvent> held;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_tracker = tracker;
    g_phase = tracker ? TrackerPhase::Created : TrackerPhase::Gone;
    held.swap(g_held);
  }
  if (tracker)
    for (const HeldEvent& e : held) Send(*tracker, e);
}

void ShutdownTracker() {
  if (!Enabled()) return;  // the tracker then stays, unreleased, as start-up decided
  std::shared_ptr<EventTrackerWrapper> last;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    last.swap(g_tracker);
    g_phase = TrackerPhase::Gone;
    g_held.clear();
  }
  // Dropping the last reference runs the shutdown sequence here, outside the lock.
}
