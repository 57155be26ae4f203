#include "app/quiet_install.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "install/install_session.h"
#include "install/report_codes.h"
#include "platform/log.h"

namespace {

// From the orchestrator's workers to the first thread: each report, and
// the end of the sequence after the reports made before it.
class ReportQueue {
 public:
  struct Item {
    bool end = false;
    ReportRecord report;
  };
  void Push(Item item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back(std::move(item));
    }
    added_.notify_one();
  }
  Item Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    added_.wait(lock, [this] { return !items_.empty(); });
    return Take();
  }
  bool TryTake(Item* item) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return false;
    *item = Take();
    return true;
  }

 private:
  Item Take() {
    Item item = std::move(items_.front());
    items_.pop_front();
    return item;
  }
  std::mutex mutex_;
  std::condition_variable added_;
  std::deque<Item> items_;
};

void Handle(InstallSession& session, const ReportRecord& report) {
  // What the window would show in a dialog goes to the log.
  if (report.code == IST_INFO_MESSAGE) OV_LOGS(L"package message: %s", report.text.c_str());
  session.Handle(report);
}

// The checks before the installation; true when it may start.
bool Prepare(InstallSession& session, const InstallerSettings& settings) {
  const std::wstring folder = session.TargetFolder();
  OV_LOGS(L"quiet install into %s", folder.c_str());
  // With InsNew the orchestrator waits for a running product instead.
  if (!settings.InsNew && (session.UninstallerCopyRunning() || session.ProductRunning())) return false;
  if (session.PrepareFolder(folder) != ExitCode::kSuccess) return false;
  // Both shortcuts, as a one-click install makes them; no language: the
  // package picks its own.
  session.Init(folder, true, true, L"");
  return !settings.IsCheckNet || session.AcceptNetwork(InstallSession::CheckNetwork());
}

}  // namespace

ExitCode RunQuietInstall(const InstallerSettings& settings, std::wstring* cause) {
  ReportQueue queue;  // outlives the session and its orchestrator's workers
  ExitCode outcome = ExitCode::kCancelled;
  {
    InstallSession session(
        [&queue](const ReportRecord& report) { queue.Push({.report = report}); },
        SessionOptions{.sequence = {settings.DownloadType, settings.HttpReady, settings.InsNew, settings.InstCmd},
                       .downloadUrl = settings.DownloadUrl,
                       .abGroup = settings.AbGroup,
                       .chosenFolder = settings.InstDir,
                       .sequenceEnded = [&queue] { queue.Push({.end = true}); }});
    if (Prepare(session, settings)) {
      session.Start();
      for (ReportQueue::Item item = queue.Wait(); !item.end; item = queue.Wait()) Handle(session, item.report);
      // Reports of the end may follow it: once the threads are gone, all are queued.
      session.StopSequence();
      for (ReportQueue::Item item; queue.TryTake(&item);)
        if (!item.end) Handle(session, item.report);
    }
    outcome = session.outcome();
    *cause = session.cause();
  }  // an unsuccessful installation's empty folders go here
  return outcome;
}
