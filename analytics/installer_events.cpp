#include "analytics/installer_events.h"

#include <atomic>

#include "app/settings.h"

namespace {

std::atomic<InstallerEventSink*> g_sink{nullptr};

std::wstring AbValue(const EventExtras& extras) {
  const auto it = extras.find(L"AB");
  return it == extras.end() ? std::wstring() : it->second;
}

InstallerEventSink* ActiveSink() { return Settings().IsEnableAppAnalytics ? g_sink.load() : nullptr; }

}  // namespace

InstallerEventSink* SetInstallerEventSink(InstallerEventSink* sink) { return g_sink.exchange(sink); }

void ReportTask(const wchar_t* name, const wchar_t* reason, float elapsedSeconds, EventExtras extras) {
  if (auto* sink = ActiveSink()) sink->Task(name ? name : L"", reason ? reason : L"", elapsedSeconds, AbValue(extras));
}

void ReportClick(const wchar_t* name, EventExtras extras) {
  if (auto* sink = ActiveSink()) sink->Click(name ? name : L"", AbValue(extras));
}

void ReportView(EventExtras extras) {
  if (auto* sink = ActiveSink()) sink->View(L"安装中", AbValue(extras));
}

void ReportCrash() {
  if (auto* sink = ActiveSink()) sink->Crash(L"崩溃");
}
