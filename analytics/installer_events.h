// The installer's own analytics events. Callers anywhere in the program
// report through these four functions; they do nothing while analytics are
// switched off (InstallerSettings::IsEnableAppAnalytics, read at each call).
//
// Events go to the installed sink. Tests install a recording sink; the
// tracking layer installs the one that forwards to the shared tracker. With
// no sink installed (no tracker exists) an event is dropped.
#pragma once

#include <map>
#include <string>

using EventExtras = std::map<std::wstring, std::wstring>;  // only "AB" is read

void ReportTask(const wchar_t* name, const wchar_t* reason, float elapsedSeconds, EventExtras extras);
void ReportClick(const wchar_t* name, EventExtras extras);
void ReportView(EventExtras extras);
void ReportCrash();

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
