// CDownloadInstaller drives one installation: the previous version's
// uninstaller (when one is recorded), the package download, the check of
// the package, the package run, and the clean-up of the package file. Every
// report of the phases is first passed unchanged to the window's report
// function, then acted on.
//
// The sequence is always in one SequencePhase; Enter is the only place it
// changes, and it logs "phase A → B (why)". Each phase has one function
// that begins it (Uninstall, Download, Verify, Install) and the handlers
// only decide which comes next:
//
//   created ─Start─┬─ uninstalling ─(run ended, success)─ downloading
//                  │        └─(run ended otherwise)─ uninstall failed
//                  ├─ downloading ─(retry)─ downloading
//                  │        ├─(DL_CODE_FAIL)─ download failed
//                  │        └─(DL_CODE_SUCCESS)─ verifying ─┬─ installing ─┬─ installed
//                  │                                        │              └─ install failed
//                  │                                        ├─ install failed (changed after its check)
//                  │                                        └─ download failed (not the publisher's)
//                  └─ uninstall failed (recorded uninstaller outside the install folder)
// A later Start returns to "created" first, so that the late end of an
// earlier uninstaller run cannot move the new sequence.
//
// Threads and ownership:
//  - the window thread constructs, calls Init and Start (which includes the
//    uninstall preparation and the wait for a running product), and
//    destroys;
//  - the download handler runs on the downloader's reporting thread and
//    verifies and starts the package runner (or, on DL_CODE_RETRY, the same
//    downloader again) from there; the uninstaller's end (on "UnInstaller",
//    once its process has exited after a success) starts the download; the
//    install handler runs on the runner's "ABDEF";
//  - a failed download is analysed on the thread that reports it (free
//    space, a write test, the network status): the reason travels to the
//    window with DL_CODE_FAIL (ReportRecord::reason), so the window's thread
//    does no slow work;
//  - the handlers start the next phase through a gate that the destructor
//    closes first: no phase starts once destruction has begun, and
//    destruction waits for a start already under way. No lock is held while
//    calling out (the window, a downloader, a runner), so a handler can start
//    a phase from inside a report without deadlock.
//  - destruction then releases the downloader (which stops and joins its
//    threads), the package runner and the uninstaller runner (each waits for
//    its thread without a limit: there is no cancellation).
//
// Ways a sequence ends (nothing runs after them until the next Start):
//   installed / install failed   INSTALL_SUCCESS / IST_CODE_FAIL; package file
//                                deleted (IST_CODE_FAIL (2) right after
//                                DL_CODE_SUCCESS: the package changed after
//                                its check)
//   download failed              DL_CODE_FAIL; package file deleted
//   uninstall failed             the uninstaller's run ended without success
//                                (UNIST_CODE_FAIL / UNIST_CODE_ERROR; a success
//                                line later in the same run still downloads),
//                                or UNIST_CODE_FAIL (3) from Start: the recorded
//                                uninstaller is not inside the registered
//                                install folder
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/installer_events.h"
#include "download/downloader.h"
#include "install/install_choices.h"
#include "platform/handles.h"
#include "platform/phase_callback.h"

class CInstaller;
class CUnInstaller;

// The product whose running copy the window and the install-new mode look for.
inline constexpr wchar_t kProductExe[] = L"OndraVelqor.exe";

// One report as the window keeps it (it posts a heap copy to its thread).
struct ReportRecord {
  int32_t code = 0;
  double number = 0;
  std::wstring text;
  // DL_CODE_FAIL only: the "下载失败原因" text, gathered on the thread that
  // reported the failure.
  std::wstring reason;
};

// The window's report function; called on the orchestrator's worker threads
// (and on the caller's, from Start), one phase at a time.
using SequenceReport = std::function<void(const ReportRecord&)>;

enum class SequencePhase {
  kCreated,
  kUninstalling,
  kDownloading,
  kVerifying,
  kInstalling,
  kInstalled,
  kInstallFailed,
  kDownloadFailed,
  kUninstallFailed,
};
// "created", "uninstalling", ... as the log writes them.
const wchar_t* PhaseName(SequencePhase phase);

class CDownloadInstaller {
 public:
  CDownloadInstaller(SequenceReport report, SequenceOptions options);
  ~CDownloadInstaller();
  CDownloadInstaller(const CDownloadInstaller&) = delete;
  CDownloadInstaller& operator=(const CDownloadInstaller&) = delete;

  // Stores the user's choices; called right before each Start.
  void Init(InstallChoices choices);

  // Starts the sequence and returns; with InsNew and a recorded uninstaller
  // it first waits (on this thread) until "OndraVelqor.exe" has ended.
  void Start();

  // Waits for the current uninstaller run, if any: after UNIST_CODE_ERROR a
  // success may still follow from the same run until it has ended.
  void WaitForUninstallRun();

  // Called when the sequence has entered one of its ends (installed, install
  // failed, download failed, uninstall failed), on the thread that ended it.
  // Reports of that end may still follow: once the orchestrator is
  // destroyed, every report has been made. Optional; set before Start.
  std::function<void(SequencePhase end)> sequenceEnded;

  // "<install folder>\__Package_Velqor.exe" as of the last Start.
  const std::wstring& packagePath() const { return packagePath_; }
  SequencePhase phase() const;

  // Sends "下载失败原因" for a DL_CODE_FAIL report: the reason it carries
  // (the report's code and text, the free space of the package's drive, a
  // write test at the package path and the network status). extras carries
  // the window's A/B value ("AB").
  static void ReportDownloadFailure(const ReportRecord& report, EventExtras extras);
  // "下载失败原因" (DL_CODE_NOTICE, isDownload) or "安装失败原因" (IST_CODE_FAIL).
  static void ReportFailureReason(const ReportRecord& report, bool isDownload, EventExtras extras);

  // The package path of the last sequence that ended (shared by all
  // orchestrators of the process); its file is deleted at the next end.
  static std::wstring LastPackagePath();

  // The pause between looks for the running product (100 ms); tests replace
  // it. Returns the previous one; null restores the real pause.
  using PauseFunction = void (*)();
  static PauseFunction SetProductWaitPause(PauseFunction pause);

 private:
  // Lets handlers start the next phase until the destructor closes it.
  class PhaseGate {
   public:
    bool Enter();
    void Leave();
    void Close();  // waits for starts under way

   private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int inside_ = 0;
    bool closed_ = false;
  };

  void OnDownloadReport(int32_t code, double number, const wchar_t* text);
  void OnUninstallReport(int32_t code, double number, const wchar_t* text);
  void OnInstallReport(int32_t code, double number, const wchar_t* text);
  // Passes one report on to the window; a DL_CODE_FAIL with its reason.
  void Pass(int32_t code, double number, const wchar_t* text);
  // Moves to `next` and logs the change; the only writer of phase_. With
  // onlyFrom, only from that phase: false (and no change) from any other.
  bool Enter(SequencePhase next, const wchar_t* why, std::optional<SequencePhase> onlyFrom = std::nullopt);
  // The phases, one function each.
  void Uninstall();
  // The uninstaller's run has ended (on "UnInstaller"): download, or end.
  void AfterUninstall(bool succeeded);
  void Download();
  void Verify(double number, const wchar_t* text);
  void Install(Utils::UniqueHandle held);
  // Enters an end that leaves a package behind, and deletes it.
  void EndWithCleanUp(SequencePhase end, const wchar_t* why);
  void PrepareDownloader(bool pathChanged);
  std::unique_ptr<CDownloader> MakeDownloader(int32_t type);
  // A libcurl download that a proxy ended with a 407 it could not answer is
  // handed to the system downloader instead of failing; true when it was.
  bool HandOverAfterProxyRefusal();
  void PrepareRunner(bool pathChanged);
  // Runs start unless destruction has begun; false when it did not run.
  bool StartNextPhase(const std::function<void()>& start);
  // The package held for reading only (the downloader's hold, or a new one)
  // and, when the URL carries its MD5, checked against it: with the
  // downloader's digest of what it wrote and held, or by reading the new
  // hold. Empty when it cannot be held or is not what was downloaded.
  Utils::UniqueHandle HoldCheckedPackage(download::HeldFile downloaded) const;
  // Deletes the package file and the last one, and remembers this one.
  void RemovePackageFiles();

  mutable std::mutex phaseMutex_;
  SequencePhase phase_ = SequencePhase::kCreated;
  std::unique_ptr<CUnInstaller> uninstaller_;
  std::unique_ptr<CDownloader> downloader_;
  // The libcurl downloader that handed over; its last report called the hand-
  // over, so it is destroyed only at the next Start or with the orchestrator.
  std::unique_ptr<CDownloader> handedOver_;
  std::unique_ptr<CInstaller> installer_;
  const SequenceOptions options_;
  InstallChoices choices_;
  std::wstring packagePath_;
  SequenceReport report_;
  // What the downloader was made with: a repeated Start for another URL or
  // folder must not download to one path and run another.
  std::wstring downloaderUrl_;
  std::wstring builtForPath_;
  PhaseGate gate_;
};

// The process id of the first running process whose executable file name
// equals name exactly (case-sensitive), or 0.
DWORD FindProcessByName(const wchar_t* name);
