// The main window's handling of the orchestrator's reports: one bar for
// download and package progress, the failure dialogs, the retry after a
// failed download, and the finished page.
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "app/settings.h"
#include "download/downloader.h"
#include "install/report_codes.h"
#include "platform/paths.h"
#include "toolkit/controls.h"
#include "toolkit/resources.h"
#include "ui/install_progress.h"
#include "ui/main_wnd.h"
#include "ui/main_wnd_parts.h"
#include "ui/message_box.h"

using namespace main_wnd;

void CMainWnd::ShowProgress(int percent) {
  const bool running = session_->downloading();
  if (progressLb_)
    progressLb_->SetText(ProgressText(progressLb_->GetUserData(), running, session_->downloadMs(), percent));
  if (skin::Progress* bar = AsProgress(installPrg_)) bar->SetValue(percent);
}

void CMainWnd::OnReport(ReportRecord* record) {
  std::unique_ptr<ReportRecord> report(record);  // deleted whatever the code
  if (!report || !session_) return;
  const InstallerSettings& settings = Settings();
  HWND window = GetHWND();
  // Events, records and the outcome first; then what the user sees.
  session_->Handle(*report);
  switch (report->code) {
    case DL_CODE_PROGRESS:
      ShowProgress(DownloadPercent(report->number, settings.DownloadScale));
      break;
    case DL_CODE_FAIL: {
      const int answer = ShowMessageBox(window, SkinDescriptor::ForFile(L"NetworkTipWnd.xml"), nullptr, nullptr);
      // The page change comes first: a retry switches to the progress page
      // later, with its "install" notification.
      const int mode = installMode_;
      SelectPage(mode);
      if (answer == kMessageBoxOk)
        RetryInstall();
      else if (answer == kMessageBoxCancel && session_->installedBefore())
        Close(1);
      break;
    }
    case IST_CODE_PROGRESS:
      ShowProgress(InstallPercent(smoothed_, report->number, settings.DownloadScale));
      break;
    case INSTALL_SUCCESS: {
      skin::Progress* bar = AsProgress(installPrg_);
      if (bar) bar->SetValue(100);
      const std::wstring fore = skin::ResourcePath() + L"res\\mainWnd\\installPrg3.png";
      if (bar && Utils::IsFile(fore)) {
        bar->SetForeImage(fore);
        bar->Invalidate();
      }
      if (installLogo_) {
        installLogo_->SetText(L"OndraVelqor");
        installLogo_->SetVisible(true);
      }
      SelectPage(3);
      Finish();
      break;
    }
    case IST_CODE_FAIL: {
      const std::wstring text = report->text.empty() ? L"安装失败" : report->text;
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), text.c_str(), kTipCaption);
      skin::Progress* bar = AsProgress(installPrg_);
      if (bar && bar->GetValue() > 69) {
        if (progressLb_) progressLb_->SetText(L"正在安装中:0%，请稍候...");
        bar->SetValue(0);
      }
      SelectPage(0);
      break;
    }
    case IST_INFO_EXE_PATH:
      productExePath_ = report->text;
      break;
    case IST_INFO_START_URL:
      startUrl_ = report->text;
      break;
    case IST_INFO_STARTUP_STYLE:
      startupStyle_ = static_cast<int>(report->number);
      break;
    case IST_INFO_TOP_SHOW_DETENTION:
      topShowDelay_ = static_cast<DWORD>(report->number);
      break;
    case IST_INFO_FINISH_CLOSE_DETENTION:
      autoCloseDelay_ = static_cast<DWORD>(report->number);
      break;
    case IST_INFO_MESSAGE:
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), report->text.c_str(), L"消息");
      break;
    case UNIST_CODE_FAIL:
    case UNIST_CODE_ERROR:
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), kRunningText, kTipCaption);
      SelectPage(installMode_);
      if (session_->installedBefore()) Close(1);
      break;
    default:
      break;
  }
}

void CMainWnd::RetryInstall() {
  if (installMode_ == 1) {
    const std::wstring folder = session_->state().ChosenFolder(installDirEdit_ ? installDirEdit_->GetText() : L"");
    StartInstall(folder, IsSelected(createDSCb_), IsSelected(createQSCb_));
  } else {
    StartInstall(session_->TargetFolder(), true, true);
  }
}

// The installation is recorded by then (InstallSession::Handle).
void CMainWnd::Finish() {
  if (startupStyle_ == 1) OpenProduct();
  skin::Control* root = manager_.GetRoot();
  if (!root) return;
  if (topShowDelay_ != 0) root->SetTimer(kBringToFrontTimer, topShowDelay_);
  // 0xFFFFFFFF asks for the longest period the system allows: in practice
  // the window then never closes by itself.
  if (autoCloseDelay_ != 0) root->SetTimer(kCloseTimer, autoCloseDelay_);
}

void CMainWnd::OpenProduct() {
  if (startUrl_.size() > 5) ShellExecuteW(nullptr, L"open", startUrl_.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
  if (!Utils::IsFile(productExePath_)) return;
  // Lets the window finish painting before the product takes the screen.
  Utils::PumpMessages(GetHWND());
  ShellExecuteW(nullptr, L"open", productExePath_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
