// The installer's main window: four pages in mainTabLt (0 one-click
// install, 1 custom install, 2 progress, 3 finished), the checks before an
// installation, and the handling of the orchestrator's reports.
//
// Threads: everything runs on the window thread except the report function
// (any orchestrator thread: it only copies the ReportRecord and posts
// WM_INSTALLER_REPORT) and the network check (its "ABDEF" worker: it only
// queues the "checknet" notification). The window takes no lock and does no
// slow work: the reasons of a failed download arrive with its report.
//
// The checks before an installation, the orchestrator and the part of the
// reports' handling that shows nothing belong to the InstallSession, which
// the quiet install drives the same way; the window adds its pages and
// dialogs.
//
// Ownership: the window owns the session (and through it the orchestrator)
// and the network-check worker; its destructor deletes the session (which
// waits for the orchestrator's threads) and waits for the worker.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "install/download_installer.h"
#include "install/exit_code.h"
#include "install/install_session.h"
#include "platform/thread.h"
#include "ui/skin_frame.h"

inline constexpr UINT WM_INSTALLER_REPORT = WM_USER + 1000;   // 2024; lParam: heap ReportRecord
inline constexpr UINT WM_DOWNLOADER_STARTED = WM_USER + 200;  // 1224; another process may send it

class CMainWnd : public CSkinFrame {
 public:
  CMainWnd();
  ~CMainWnd() override;

  // Checks, creates the folder and hands the choices to the orchestrator;
  // true when the installation request went out.
  bool StartInstall(const std::wstring& folder, bool desktopShortcut, bool quickLaunch);

  // The report function given to the orchestrator: callable from any thread.
  SequenceReport ReportFunction();

  // The process's exit code once the window has closed: how the last
  // installation attempt ended, kCancelled when none was tried (the table
  // of install/exit_code.h).
  ExitCode exitCode() const { return session_ ? session_->outcome() : ExitCode::kCancelled; }
  std::wstring exitCause() const { return session_ ? session_->cause() : std::wstring(); }

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void InitWindow() override;
  void OnClick(skin::Notify& msg) override;
  void Notify(skin::Notify& msg) override;
  skin::Control* CreateControl(const wchar_t* className) override;
  // The report handler: one WM_INSTALLER_REPORT; deletes the record.
  virtual void OnReport(ReportRecord* report);

 private:
  void FindControls();
  void OnPageChanged();
  void OnSelectChanged(skin::Control* sender);
  void OnCheckNet(WPARAM result);
  void OnInstallNotify(bool go);
  void ChooseFolder();
  void ApplyInstalledLanguage();
  int LoadLanguage(const std::wstring& code, int index);
  void ApplyLanguage(int index);
  void InitLanguageList();
  void FitToText(skin::Control* control);
  std::wstring LanguageTag() const;
  void OpenProduct();
  void ShowProgress(int percent);
  void Finish();
  void RetryInstall();
  EventExtras Ab() const { return session_ ? session_->Ab() : EventExtras{{L"AB", L"IN"}}; }
  void SelectPage(int page);
  int CurrentPage() const;

  static constexpr UINT kBringToFrontTimer = 10;  // timers of the root control
  static constexpr UINT kCloseTimer = 11;

  // Controls of the skin; any may be missing. Not owned.
  skin::Control* mainTabLt_ = nullptr;
  skin::Control* titleTabLt_ = nullptr;
  skin::Control* defaultInstallBtn_ = nullptr;
  skin::Control* customeInstallBtn_ = nullptr;
  skin::Control* customeBtn_ = nullptr;
  skin::Control* treatyBtn_ = nullptr;
  skin::Control* backBtn_ = nullptr;
  skin::Control* openProduceBtn_ = nullptr;
  skin::Control* treatyCb_ = nullptr;
  skin::Control* serviceCb_ = nullptr;
  skin::Control* chDirBtn_ = nullptr;
  skin::Control* installDirEdit_ = nullptr;
  skin::Control* progressLb_ = nullptr;
  skin::Control* titleGrpCtn_ = nullptr;
  skin::Control* winCtn_ = nullptr;
  skin::Control* createDSCb_ = nullptr;
  skin::Control* createQSCb_ = nullptr;
  skin::Control* progressAnLb_ = nullptr;
  skin::Control* finishedLbl_ = nullptr;
  skin::Control* installLogo_ = nullptr;
  skin::Control* languageCombo_ = nullptr;
  skin::Control* tipLbl_ = nullptr;
  skin::Control* installPrg_ = nullptr;

  std::unique_ptr<InstallSession> session_;  // made with the window
  std::wstring productExePath_;
  std::wstring startUrl_;
  int startupStyle_ = 0;
  DWORD topShowDelay_ = 3000;
  DWORD autoCloseDelay_ = 0xFFFFFFFF;
  std::unique_ptr<Utils::Thread> netCheck_;
  int installMode_ = 0;
  double smoothed_ = 0.0;
};
