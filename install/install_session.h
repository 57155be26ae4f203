// One installation as both front ends drive it, the window and the quiet
// install: the checks before it, the orchestrator that runs it, and what its
// reports mean apart from what a window shows (the analytics events, the
// installed-state records, and how the attempt ended, as an ExitCode). The
// window adds its pages and dialogs; the quiet install returns the outcome.
//
// Threads: the owner's thread calls everything (the window's thread, or the
// quiet install's first thread), except the report function given at
// construction, which the orchestrator calls on its workers, and
// CheckNetwork, which is slow and runs on any thread.
//
// Ownership: the session owns the orchestrator and the installed state. The
// destructor (or StopSequence) deletes the orchestrator, which waits for its
// threads; the destructor then removes the folders the checks created that
// are still empty (after an unsuccessful installation, but for the "set.ini"
// written at the package's start): a failed installation leaves none behind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/installer_events.h"
#include "install/download_installer.h"
#include "install/exit_code.h"
#include "install/install_choices.h"
#include "install/install_state.h"

// What the owner takes from its settings for every installation.
struct SessionOptions {
  SequenceOptions sequence;
  std::wstring downloadUrl;
  std::wstring abGroup = L"IN";  // the A/B value from the first DL_CODE_START on
  // "-instdir": a folder chosen as the custom page's folder box takes it.
  std::optional<std::wstring> chosenFolder;
  // Told when the sequence has ended, on the thread that ended it (see
  // CDownloadInstaller::sequenceEnded). Optional.
  std::function<void()> sequenceEnded;
};

class InstallSession {
 public:
  // Reads the installed state.
  InstallSession(SequenceReport report, SessionOptions options);
  ~InstallSession();
  InstallSession(const InstallSession&) = delete;
  InstallSession& operator=(const InstallSession&) = delete;

  InstallState& state() { return state_; }
  bool installedBefore() const { return installedBefore_; }
  // Where an installation goes unless the user picks another folder: the
  // chosen folder, else the registered folder of an earlier installation,
  // else the default folder.
  std::wstring TargetFolder();

  // The checks before an installation, in this order; each failure becomes
  // the outcome and is logged. The product, or an earlier version's
  // uninstaller copy, running: true (kProductRunning).
  bool ProductRunning();
  bool UninstallerCopyRunning();
  // The folder must be a full path; it is created with its missing parents
  // (remembered for the clean-up) and needs 1 GB free on its volume (an
  // unknown amount counts as enough: the package reports a real shortage).
  // kSuccess, or kFolderNotCreatable, kNotElevated or kNotEnoughSpace.
  ExitCode PrepareFolder(const std::wstring& folder);
  // The network check's answer (slow: on a worker in a window); then
  // AcceptNetwork on the owner's thread: false for a poor network (kNoNetwork).
  static uint32_t CheckNetwork();
  bool AcceptNetwork(uint32_t result);

  // Hands the choices to the orchestrator, then starts it.
  void Init(const std::wstring& folder, bool desktopShortcut, bool quickLaunch, const std::wstring& languageTag);
  void Start();
  // Deletes the orchestrator, waiting for its threads: every report has been
  // made afterwards. No installation can start after it.
  void StopSequence();

  // The part of a report's handling that shows nothing. Returns the outcome
  // when the report ends an attempt: kSuccess, or the failure's code.
  std::optional<ExitCode> Handle(const ReportRecord& report);
  // "下载器启动", once in the process's run, whoever asks first.
  void ReportDownloaderStarted();

  // How the last attempt ended; kCancelled before any ended.
  ExitCode outcome() const { return outcome_; }
  // The outcome's cause as the log tells it ("" for success or none).
  const std::wstring& cause() const { return cause_; }
  EventExtras Ab() const { return {{L"AB", abValue_}}; }
  // The download stopwatch, started at each DL_CODE_START.
  bool downloading() const { return stopwatchRunning_; }
  DWORD downloadMs() const { return stopwatchRunning_ ? GetTickCount() - stopwatchStart_ : 0; }

  // Test seams: the free bytes of a folder's volume, and the network check
  // (null: the system's). Set them before an installation starts. Each
  // returns the previous one.
  using FreeSpaceQuery = std::function<bool(const std::wstring& folder, uint64_t* freeBytes)>;
  static FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query);
  using NetworkCheck = std::function<uint32_t()>;
  static NetworkCheck SetNetworkCheck(NetworkCheck check);

 private:
  ExitCode End(ExitCode outcome, std::wstring cause);
  void RemoveEmptyCreatedFolders();

  SessionOptions options_;
  InstallState state_;
  bool installedBefore_ = false;
  std::unique_ptr<CDownloadInstaller> orchestrator_;
  ExitCode outcome_ = ExitCode::kCancelled;
  std::wstring cause_;
  // Folders PrepareFolder made, outermost first, in every attempt, and the
  // "set.ini" files written when a package started.
  std::vector<std::wstring> createdFolders_;
  std::vector<std::wstring> setIniFolders_;
  std::wstring abValue_ = L"IN";
  bool downloaderStartedReported_ = false;
  DWORD stopwatchStart_ = 0;
  bool stopwatchRunning_ = false;
};
