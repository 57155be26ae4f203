#include "ui/main_wnd.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

#include "analytics/installer_events.h"
#include "app/settings.h"
#include "platform/handles.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "toolkit/archive.h"
#include "toolkit/controls.h"
#include "toolkit/gdi_handles.h"
#include "toolkit/resources.h"
#include "ui/install_progress.h"
#include "ui/main_wnd_parts.h"
#include "ui/message_box.h"
#include "ui/sequence_controls.h"

namespace {

constexpr int kNoSpaceTextId = 104;
// The skins carry no text 104: without one the user still learns why.
constexpr const wchar_t* kNoSpaceText = L"安装目录所在磁盘的可用空间不足1GB，请清理磁盘或选择其他安装路径";
constexpr DWORD kLanguageFileLimit = 4194304;

std::wstring StatsPage(const wchar_t* path) { return L"http://" + StatsHost() + path; }

using namespace main_wnd;

skin::TabLayout* AsTab(skin::Control* c) {
  return c ? static_cast<skin::TabLayout*>(c->GetInterface(L"TabLayout")) : nullptr;
}
skin::Combo* AsCombo(skin::Control* c) { return c ? static_cast<skin::Combo*>(c->GetInterface(L"Combo")) : nullptr; }
CSequenceLabelUI* AsSequenceLabel(skin::Control* c) {
  return c && c->GetClass() == L"SequenceLabel" ? static_cast<CSequenceLabelUI*>(c) : nullptr;
}
void SetEnabled(skin::Control* c, bool on) {
  if (c) c->SetEnabled(on);
}
void SetVisible(skin::Control* c, bool on) {
  if (c) c->SetVisible(on);
}

}  // namespace

CMainWnd::CMainWnd()
    : CSkinFrame(SkinDescriptor::ForFile(L"MainWnd.xml")),
      startUrl_(StatsPage(L"/redirect/ver1/velqor/help/1.0/installer/123456")) {}

CMainWnd::~CMainWnd() {
  session_.reset();  // waits for the orchestrator's runner threads
  if (netCheck_) netCheck_->Release();
  netCheck_.reset();
}

SequenceReport CMainWnd::ReportFunction() {
  HWND window = GetHWND();
  return [window](const ReportRecord& report) {
    auto* record = new ReportRecord(report);
    // A window that is already gone frees nothing for us: do it here.
    if (!PostMessageW(window, WM_INSTALLER_REPORT, 0, reinterpret_cast<LPARAM>(record))) delete record;
  };
}

skin::Control* CMainWnd::CreateControl(const wchar_t* className) { return CreateSequenceControl(className); }

void CMainWnd::FindControls() {
  mainTabLt_ = FindControl(L"mainTabLt");
  titleTabLt_ = FindControl(L"titleTabLt");
  defaultInstallBtn_ = FindControl(L"defaultInstallBtn");
  customeInstallBtn_ = FindControl(L"customeInstallBtn");
  customeBtn_ = FindControl(L"customeBtn");
  treatyBtn_ = FindControl(L"treatyBtn");
  backBtn_ = FindControl(L"backBtn");
  openProduceBtn_ = FindControl(L"openProduceBtn");
  treatyCb_ = FindControl(L"treatyCb");
  serviceCb_ = FindControl(L"serviceCb");
  chDirBtn_ = FindControl(L"chDirBtn");
  installDirEdit_ = FindControl(L"installDirEdit");
  progressLb_ = FindControl(L"progressLb");
  titleGrpCtn_ = FindControl(L"titleGrpCtn");
  winCtn_ = FindControl(L"winCtn");
  createDSCb_ = FindControl(L"createDSCb");
  createQSCb_ = FindControl(L"createQSCb");
  progressAnLb_ = FindControl(L"progressAnLb");
  finishedLbl_ = FindControl(L"finishedLbl");
  installLogo_ = FindControl(L"installLogo");
  languageCombo_ = FindControl(L"languageCombo");
  tipLbl_ = FindControl(L"tipLbl");
  installPrg_ = FindControl(L"installPrg");
}

void CMainWnd::InitWindow() {
  CSkinFrame::InitWindow();
  HWND window = GetHWND();
  SetWindowLongW(window, GWL_STYLE, static_cast<LONG>((GetWindowLongW(window, GWL_STYLE) & 0xFF3EFFFF) | 0x06000000));
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_TOPMOST);
  HINSTANCE instance = skin::Instance();
  if (HANDLE big = LoadImageW(instance, MAKEINTRESOURCEW(145), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                              GetSystemMetrics(SM_CYICON), 0))
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (HANDLE small = LoadImageW(instance, MAKEINTRESOURCEW(145), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                GetSystemMetrics(SM_CYSMICON), 0))
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  FindControls();
  if (languageCombo_) InitLanguageList();

  {
    const skin::UniqueWindowDc dc = skin::GetWindowDc(window);
    for (skin::Control* c :
         {installLogo_, FindControl(L"bTitleLbl1"), FindControl(L"bTitleLbl2"), FindControl(L"bTitleLbl3")}) {
      if (!c) continue;
      c->SetFixedWidth(manager_.MeasureTextWidth(dc.get().dc, L"OndraVelqor", c->GetFont(), c->GetTextStyle()));
      c->SetText(L"OndraVelqor");
    }
  }

  const InstallerSettings& settings = Settings();
  session_ = std::make_unique<InstallSession>(
      ReportFunction(),
      SessionOptions{.sequence = {settings.DownloadType, settings.HttpReady, settings.InsNew, settings.InstCmd},
                     .downloadUrl = settings.DownloadUrl,
                     .abGroup = settings.AbGroup,
                     .chosenFolder = settings.InstDir});
  InstallState& state = session_->state();
  const std::wstring defaultFolder = state.DefaultFolder();
  // The folder box shows "-instdir" as typed: the custom page takes it as it would take the user's text.
  if (installDirEdit_) installDirEdit_->SetText(settings.InstDir ? *settings.InstDir : defaultFolder);
  CenterWindow();
  OV_LOGS(L"installed before: %d (%s), default folder %s", session_->installedBefore(),
          state.registeredInstallPath.c_str(), defaultFolder.c_str());
  if (!session_->installedBefore()) return;

  ApplyInstalledLanguage();
  // With InsNew a running product is waited for; without it, it ends the run.
  if (Settings().InsNew) {
    StartInstall(session_->TargetFolder(), true, true);
    return;
  }
  if (session_->ProductRunning()) {
    ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), kRunningText, kTipCaption);
    Close(1);
    return;
  }
  switch (ShowMessageBox(window, SkinDescriptor::ForFile(L"InstalledPathTipWnd.xml"), nullptr, nullptr)) {
    case kMessageBoxOk:
      StartInstall(session_->TargetFolder(), true, true);
      break;
    case kMessageBoxOther:
      Close(1);
      break;
    default:  // "打开软件", or the dialog went without a button
      productExePath_ = state.registeredInstallPath + L"\\" + kProductExe;
      ShellExecuteW(nullptr, L"open", productExePath_.c_str(), nullptr, state.registeredInstallPath.c_str(),
                    SW_SHOWNORMAL);
      Close(1);
      break;
  }
}

int CMainWnd::CurrentPage() const {
  skin::TabLayout* tab = AsTab(mainTabLt_);
  return tab ? tab->GetCurSel() : -1;
}

void CMainWnd::SelectPage(int page) {
  if (skin::TabLayout* tab = AsTab(mainTabLt_)) tab->SelectItem(page, true);
}

void CMainWnd::OnPageChanged() {
  const int page = CurrentPage();
  OV_LOGS(L"page %d", page);
  const wchar_t* background = L"res\\mainWnd\\bg1.png";
  int titlePage = 0;
  switch (page) {
    case 0:
      titlePage = 1;
      break;
    case 1:
      background = L"res\\mainWnd\\bg2.png";
      titlePage = 1;
      break;
    case 2:
      background = L"res\\mainWnd\\bg3.png";
      titlePage = -1;  // unchanged
      if (CSequenceLabelUI* a = AsSequenceLabel(progressAnLb_)) a->Start();
      break;
    case 3:
      background = L"res\\mainWnd\\bg4.png";
      titlePage = 2;
      if (CSequenceLabelUI* a = AsSequenceLabel(progressAnLb_)) a->Stop();
      if (CSequenceLabelUI* f = AsSequenceLabel(finishedLbl_)) f->Start();
      break;
    default:
      break;
  }
  if (skin::TabLayout* title = AsTab(titleTabLt_); title && titlePage >= 0) title->SelectItem(titlePage, false);
  if (winCtn_) {
    winCtn_->SetBkImage(background);
    winCtn_->Invalidate();
  }
  SetVisible(titleGrpCtn_, page != 2);
  SetVisible(installLogo_, page == 2);
  SetVisible(backBtn_, page == 1);
}

void CMainWnd::OnSelectChanged(skin::Control* sender) {
  if (!sender) return;
  if (sender == treatyCb_) {
    const bool a = IsSelected(treatyCb_);
    const bool b = serviceCb_ ? IsSelected(serviceCb_) : true;
    if (skin::Option* link = AsOption(treatyBtn_)) link->Selected(a, true);
    if (a && b) {
      SetEnabled(customeBtn_, true);
      SetVisible(tipLbl_, false);
    } else {
      SetEnabled(customeBtn_, false);
    }
  } else if (serviceCb_ && sender == serviceCb_) {
    const bool a = IsSelected(serviceCb_);
    const bool b = IsSelected(treatyCb_);
    if (a) {
      if (b) SetEnabled(customeBtn_, true);
      SetEnabled(defaultInstallBtn_, true);
    } else {
      SetEnabled(customeBtn_, false);
      SetEnabled(defaultInstallBtn_, false);
    }
  } else if (sender == treatyBtn_) {
    // The link's colour follows the agreement, whatever clicked it.
    skin::Option* link = AsOption(treatyBtn_);
    const bool agreed = IsSelected(treatyCb_);
    if (link && link->IsSelected() != agreed) link->Selected(agreed, true);
  }
}

void CMainWnd::OnClick(skin::Notify& msg) {
  skin::Control* sender = msg.sender;
  if (!sender) return;
  const int page = CurrentPage();
  if (sender == defaultInstallBtn_) {
    ReportClick(L"立即安装", Ab());
    if (IsSelected(treatyCb_))
      StartInstall(session_->TargetFolder(), true, true);
    else
      SetVisible(tipLbl_, true);
  } else if (sender == customeBtn_) {
    ReportClick(L"自定义安装", Ab());
    SelectPage(1);
    if (customeInstallBtn_) customeInstallBtn_->SetFocus();
  } else if (sender == treatyBtn_) {
    const std::wstring terms = StatsPage(L"/redirect/ver1/velqor/terms/1.0/installer/123456");
    ShellExecuteW(nullptr, L"open", terms.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
  } else if (sender == backBtn_) {
    SelectPage(0);
  } else if (sender == chDirBtn_) {
    ChooseFolder();
  } else if (sender == customeInstallBtn_) {
    ReportClick(L"自定义安装_立即安装", Ab());
    const std::wstring folder = session_->state().ChosenFolder(installDirEdit_ ? installDirEdit_->GetText() : L"");
    StartInstall(folder, IsSelected(createDSCb_), IsSelected(createQSCb_));
  } else if (sender == openProduceBtn_) {
    ReportClick(L"立即体验", Ab());
    if (startupStyle_ == 2) OpenProduct();
    Close(1);
  } else if (sender->GetName() == L"closebtn") {
    if (page == 3) {
      Close(1);
    } else if (ShowMessageBox(GetHWND(), SkinDescriptor::ForFile(L"ExitTipWnd.xml"), nullptr, nullptr) ==
               kMessageBoxOk) {
      Close(1);
    }
  } else {
    CSkinFrame::OnClick(msg);
  }
}

void CMainWnd::ChooseFolder() {
  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = GetHWND();
  info.pszDisplayName = display;
  info.lpszTitle = L"选择一个文件夹";
  info.ulFlags = BIF_NEWDIALOGSTYLE;
  const Utils::UniqueCoTaskMemory<ITEMIDLIST> chosen(SHBrowseForFolderW(&info));
  if (!chosen) return;
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(chosen.get(), path) && installDirEdit_) installDirEdit_->SetText(path);
}

void CMainWnd::Notify(skin::Notify& msg) {
  if (msg.type == L"tabselect" && msg.sender && msg.sender == mainTabLt_) {
    OnPageChanged();
  } else if (msg.type == L"selectchanged") {
    OnSelectChanged(msg.sender);
  } else if (msg.type == L"timer" && msg.sender && msg.sender == manager_.GetRoot()) {
    if (msg.wParam == kBringToFrontTimer) {
      SetForegroundWindow(GetHWND());
      manager_.GetRoot()->KillTimer(kBringToFrontTimer);
    } else if (msg.wParam == kCloseTimer) {
      Close(1);
      manager_.GetRoot()->KillTimer(kCloseTimer);
    }
  } else if (msg.type == L"itemselect" && msg.sender && msg.sender == languageCombo_) {
    ApplyLanguage(static_cast<int>(msg.wParam));
  } else if (msg.type == L"checknet") {
    OnCheckNet(msg.wParam);
  } else if (msg.type == L"install") {
    OnInstallNotify(msg.wParam != 0);
  }
  CSkinFrame::Notify(msg);
}

LRESULT CMainWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE && CurrentPage() == 2) return 0;  // an installation cannot be interrupted
  if (message == WM_INSTALLER_REPORT) {
    OnReport(reinterpret_cast<ReportRecord*>(lParam));
    return 0;
  }
  if (message == WM_DOWNLOADER_STARTED && session_) session_->ReportDownloaderStarted();
  return CSkinFrame::HandleMessage(message, wParam, lParam);
}

bool CMainWnd::StartInstall(const std::wstring& folder, bool desktopShortcut, bool quickLaunch) {
  const InstallerSettings& settings = Settings();
  HWND window = GetHWND();
  if (!settings.InsNew) {
    if (session_->UninstallerCopyRunning()) {
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), kRunningText, kTipCaption);
      if (session_->installedBefore()) Close(1);
      return false;
    }
    if (session_->ProductRunning()) {
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), kRunningText, kTipCaption);
      Close(1);
      return false;
    }
  }
  SetEnabled(customeInstallBtn_, false);
  switch (session_->PrepareFolder(folder)) {
    case ExitCode::kSuccess:
      break;
    case ExitCode::kNotEnoughSpace: {
      std::wstring text;
      if (!skin::GetLanguageText(kNoSpaceTextId, &text) || text.empty()) text = kNoSpaceText;
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), text.c_str(), kTipCaption);
      manager_.SendNotify(manager_.GetRoot(), L"install", 0);
      return false;
    }
    default:  // the folder cannot be made
      ShowMessageBox(window, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), L"无效路径", kTipCaption);
      manager_.SendNotify(manager_.GetRoot(), L"install", 0);
      return false;
  }
  session_->Init(folder, desktopShortcut, quickLaunch, LanguageTag());
  if (settings.IsCheckNet) {
    if (netCheck_) netCheck_->Release();
    skin::PaintManager* manager = &manager_;
    netCheck_ = std::make_unique<Utils::Thread>(nullptr, L"ABDEF", [manager](void*) {
      const uint32_t result = InstallSession::CheckNetwork();
      manager->SendNotify(nullptr, L"checknet", result, 0, true);  // queued: only posts to the window
    });
    if (netCheck_->handle()) ResumeThread(netCheck_->handle());
  } else {
    manager_.SendNotify(nullptr, L"install", 1, 0, true);
  }
  return true;
}

void CMainWnd::OnCheckNet(WPARAM result) {
  const bool failed = !session_->AcceptNetwork(static_cast<uint32_t>(result));
  if (failed)
    ShowMessageBox(GetHWND(), SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"),
                   L"当前网络环境较差，请在网络通畅时进行安装", kTipCaption);
  manager_.SendNotify(manager_.GetRoot(), L"install", failed ? 0 : 1);
}

void CMainWnd::OnInstallNotify(bool go) {
  if (go) {
    const int page = CurrentPage();
    installMode_ = page == 1 ? 1 : 0;
    SelectPage(2);
    ReportView(Ab());
    session_->Start();
  }
  SetEnabled(customeInstallBtn_, true);
}

// Language selection: only with a skin that has languageCombo and a
// "language.json" in the archive.

int CMainWnd::LoadLanguage(const std::wstring& code, int index) {
  int loaded = code.empty() ? (LanguageCode(index) ? index : 0) : LanguageIndexOfCode(code);
  if (loaded < 0) loaded = 0;
  const skin::SkinArchive* archive = skin::RegisteredArchive();
  const std::string* json = archive ? archive->Data(L"language.json") : nullptr;
  if (json && json->size() <= kLanguageFileLimit) LoadLanguageTexts(*json, loaded);
  return loaded;
}

void CMainWnd::FitToText(skin::Control* control) {
  if (!control) return;
  const int width = manager_.MeasureTextWidth(skin::GetWindowDc(GetHWND()).get().dc, control->GetText(),
                                              control->GetFont(), control->GetTextStyle());
  control->SetFixedWidth(width + control->GetTextPadding().left);
}

void CMainWnd::ApplyLanguage(int index) {
  const int loaded = LoadLanguage(L"", index);
  if (manager_.GetRoot()) manager_.GetRoot()->NeedParentUpdate();
  InvalidateRect(GetHWND(), nullptr, FALSE);
  FitToText(FindControl(L"lbLanguage"));
  FitToText(FindControl(L"lbInstallPath"));
  FitToText(backBtn_);
  Settings().LanguageIndex = loaded;
}

void CMainWnd::InitLanguageList() {
  const int configured = Settings().LanguageIndex;
  const int index = configured != -1 ? configured : LanguageIndexForLangId(GetUserDefaultUILanguage());
  if (skin::Combo* combo = AsCombo(languageCombo_)) combo->SelectItem(index, true);
  ApplyLanguage(index);
}

void CMainWnd::ApplyInstalledLanguage() {
  const std::wstring config = session_->state().registeredInstallPath + L"\\config.ini";
  int loaded = 0;
  if (Utils::IsFile(config)) {
    wchar_t code[260] = {};
    GetPrivateProfileStringW(L"Install", L"Language", L"en-US", code, 260, config.c_str());
    loaded = LoadLanguage(code, 0);
  } else {
    loaded = LoadLanguage(L"", 0);
  }
  InvalidateRect(GetHWND(), nullptr, FALSE);
  if (skin::Combo* combo = AsCombo(languageCombo_)) combo->SelectItem(loaded, false);
}

std::wstring CMainWnd::LanguageTag() const {
  skin::Combo* combo = AsCombo(languageCombo_);
  if (!combo) return L"";
  const wchar_t* code = LanguageCode(combo->GetCurSel());
  return code ? code : L"";
}
