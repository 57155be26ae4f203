// The installer's own analytics events. Callers anywhere in the program
// report through these four functions; they do nothing while analytics are
// switched off (InstallerSettings::IsEnableAppAnalytics, read at each call).
//
// Each event goes to the shared tracker (and to an installed sink, which
// tests use to record events). Events reported before the tracker exists
// (the libcurl failure at start-up) are held and sent once CreateTracker has
// made it; when analytics were off at that point they are dropped.
//
// Threads: any thread may report (the crash filter runs on the faulting
// thread). CreateTracker and ShutdownTracker run on the first thread at
// start-up and shutdown.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "analytics/sdk/record_queue.h"

using EventExtras = std::map<std::wstring, std::wstring>;  // only "AB" is read

// What the program tells the report functions at start-up, before
// CreateTracker: whether analytics are on (asked at every report and at
// shutdown, since the command line may change it after the tracker was
// made) and who the events are from. Until configured: on, with the
// built-in names.
struct InstallerAnalytics {
  std::function<bool()> enabled;  // null: on
  std::string appName = "Velqor.downloader";
  std::string appVersion = "1.7.9";
  std::string appStore;  // the installer's file name; empty: this program's
  std::string dlAppId = "Velqor";
  std::string dlAppVersion;
};
void ConfigureInstallerAnalytics(InstallerAnalytics config);

void ReportTask(const wchar_t* name, const wchar_t* reason, float elapsedSeconds, EventExtras extras);
void ReportClick(const wchar_t* name, EventExtras extras);
void ReportView(EventExtras extras);
void ReportCrash();

// Start-up, after the settings file and before the command line: creates the
// shared tracker when analytics are on at that moment, then sends the events
// held until now. An empty server URL means the built-in collection endpoint;
// `post` (the installer's, with its network policy) replaces the core's own
// libcurl post.
void CreateTracker(const std::string& serverUrl = std::string(), analytics_core::PostFunction post = nullptr);
// Shutdown: when analytics are on now, releases the shared tracker, which
// makes its last posting attempts and keeps what is unsent for the next run.
void ShutdownTracker();

class InstallerEventSink {
 public:
  virtual ~InstallerEventSink() = default;
  virtual void Task(const std::wstring& name, const std::wstring& reason, float elapsedSeconds,
                    const std::wstring& abValue) = 0;
  virtual void Click(const std::wstring& name, const std::wstring& abValue) = 0;
  virtual void View(const std::wstring& name, const std::wstring& abValue) = 0;
  virtual void Crash(const std::wstring& reason) = 0;
};

// Not owned. Returns the previous sink.
InstallerEventSink* SetInstallerEventSink(InstallerEventSink* sink);
