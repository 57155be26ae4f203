// The main window in a real window on this thread, with the dialogs and
// the free-space query replaced: the space check, the report handler's bar
// and texts, the downloader-started event, and the language list of a skin
// that has one.
#include "ui/main_wnd.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <vector>

#include "analytics/installer_events.h"
#include "app/settings.h"
#include "download/downloader.h"
#include "install/report_codes.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "tests/support/test_support.h"
#include "toolkit/archive.h"
#include "toolkit/controls.h"
#include "toolkit/resources.h"
#include "ui/message_box.h"
#include "ui/ui_test_support.h"

namespace {

struct Shown {
  std::wstring skin, text;
};

class Events : public InstallerEventSink {
 public:
  void Task(const std::wstring& name, const std::wstring& reason, float, const std::wstring&) override {
    names.push_back(name);
    reasons.push_back(reason);
  }
  void Click(const std::wstring& name, const std::wstring&) override { names.push_back(name); }
  void View(const std::wstring& name, const std::wstring&) override { names.push_back(name); }
  void Crash(const std::wstring&) override {}
  int Count(const std::wstring& name) const { return static_cast<int>(std::count(names.begin(), names.end(), name)); }
  std::vector<std::wstring> names;
  std::vector<std::wstring> reasons;  // of the tasks, in order
};

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PrepareSkinToolkit(GetModuleHandleW(nullptr)); }
  void SetUp() override {
    saved_ = Settings();
    Settings().InsNew = false;
    Settings().IsCheckNet = false;
    Settings().LanguageIndex = -1;
    Settings().DownloadScale = 0.7;
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PeLanSoft\\Velqor");  // no earlier installation
    SetMessageBoxHook([this](HWND, const SkinDescriptor& skin, const wchar_t* text, const wchar_t*) {
      shown_.push_back({skin.skinFile, text ? text : L""});
      return kMessageBoxOther;
    });
    previousSink_ = SetInstallerEventSink(&events_);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"ov_main_wnd_test\\ONVelqor";
  }
  void TearDown() override {
    window_.reset();
    InstallSession::SetFreeSpaceQuery(nullptr);
    InstallSession::SetNetworkCheck(nullptr);
    SetMessageBoxHook(nullptr);
    SetInstallerEventSink(previousSink_);
    Settings() = saved_;
    test_support::RemoveTree(folder_.substr(0, folder_.rfind(L'\\')));
  }
  void Open() {
    window_ = std::make_unique<CMainWnd>();
    ASSERT_NE(window_->Create(nullptr, L"OndraVelqor", 0x10CF0000, 0), nullptr);
    ASSERT_NE(window_->FindControl(L"mainTabLt"), nullptr) << "the skin was built";
    window_->ShowWindow(true, false);
    ui_test::Pump(100);
  }
  void Report(int32_t code, double number, const wchar_t* text = L"") {
    SendMessageW(window_->GetHWND(), WM_INSTALLER_REPORT, 0,
                 reinterpret_cast<LPARAM>(new ReportRecord{code, number, text}));
  }
  int Bar() {
    return static_cast<skin::Progress*>(window_->FindControl(L"installPrg")->GetInterface(L"Progress"))->GetValue();
  }
  int Page() {
    return static_cast<skin::TabLayout*>(window_->FindControl(L"mainTabLt")->GetInterface(L"TabLayout"))->GetCurSel();
  }
  std::wstring Text(const wchar_t* name) { return window_->FindControl(name)->GetText(); }
  static void FreeBytes(uint64_t bytes) {
    InstallSession::SetFreeSpaceQuery([bytes](const std::wstring&, uint64_t* free) {
      *free = bytes;
      return true;
    });
  }

  InstallerSettings saved_;
  std::unique_ptr<CMainWnd> window_;
  std::vector<Shown> shown_;
  Events events_;
  InstallerEventSink* previousSink_ = nullptr;
  std::wstring folder_;
};

TEST_F(MainWindow, LessThanOneGigabyteFreeStopsTheInstallationExactlyOneIsEnough) {
  ASSERT_NO_FATAL_FAILURE(Open());
  FreeBytes(1073741824ull - 10737418ull);  // 0.99 GB
  EXPECT_FALSE(window_->StartInstall(folder_, true, true));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].skin, L"MessageBox2Wnd.xml");
  EXPECT_NE(shown_[0].text.find(L"1GB"), std::wstring::npos) << "a built-in text: the skins have no text 104";
  ui_test::Pump(200);
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(events_.Count(L"安装中"), 0);

  FreeBytes(1073741824ull);
  EXPECT_TRUE(window_->StartInstall(folder_, true, true));
  EXPECT_EQ(shown_.size(), 1u);
  EXPECT_NE(GetFileAttributesW(folder_.c_str()), INVALID_FILE_ATTRIBUTES) << "the folder is created first";
  // The queued "install" notification is dropped with the window: nothing downloads here.
}

TEST_F(MainWindow, NetworkCheckOnItsWorkerDecidesWhetherTheInstallationStarts) {
  Settings().IsCheckNet = true;
  Settings().DownloadUrl = L"http://127.0.0.1:9/software/0/none.exe";  // nothing listens there
  FreeBytes(1ull << 40);
  ASSERT_NO_FATAL_FAILURE(Open());
  InstallSession::SetNetworkCheck([] { return 0x20000u; });  // connected, but not to the internet
  EXPECT_TRUE(window_->StartInstall(folder_, true, true));
  for (int i = 0; i < 50 && shown_.empty(); ++i) ui_test::Pump(20);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].skin, L"MessageBox2Wnd.xml");
  EXPECT_EQ(shown_[0].text, L"当前网络环境较差，请在网络通畅时进行安装");
  EXPECT_EQ(Page(), 0);
  EXPECT_TRUE(window_->FindControl(L"customeInstallBtn")->IsEnabled());

  InstallSession::SetNetworkCheck([] { return 0x0040u; });  // NLM_CONNECTIVITY_IPV4_INTERNET
  EXPECT_TRUE(window_->StartInstall(folder_, true, true));
  for (int i = 0; i < 50 && Page() != 2; ++i) ui_test::Pump(20);
  EXPECT_EQ(Page(), 2);
  EXPECT_EQ(events_.Count(L"安装中"), 1);
  window_.reset();  // the orchestrator stops its download and waits for it
}

// Relative text would make folders under the working directory, and an
// empty box "\\ONVelqor" at the current drive's root: refused as a folder
// that cannot be made is, before anything exists.
TEST_F(MainWindow, CustomInstallRefusesAFolderThatIsNotFullyQualified) {
  Settings().DownloadUrl = L"http://127.0.0.1:9/software/0/none.exe";  // nothing listens there
  FreeBytes(1ull << 40);
  const std::wstring work = folder_.substr(0, folder_.rfind(L'\\')) + L"\\cwd";
  ASSERT_TRUE(Utils::CreateDirectories(work));
  struct CurrentDirectory {
    wchar_t saved[MAX_PATH] = {};
    CurrentDirectory() { GetCurrentDirectoryW(MAX_PATH, saved); }
    ~CurrentDirectory() { SetCurrentDirectoryW(saved); }  // before TearDown removes the folder
  } restore;
  ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
  auto exists = [](const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
  const std::wstring root = work.substr(0, 3);  // "C:\"
  const bool rootHadFolder = exists(root + L"ONVelqor"), rootHadFoo = exists(root + L"foo");

  ASSERT_NO_FATAL_FAILURE(Open());
  static_cast<skin::TabLayout*>(window_->FindControl(L"mainTabLt")->GetInterface(L"TabLayout"))->SelectItem(1);
  // The new page is laid out when it paints; posted clicks come before a
  // pending paint, and on a busy machine one reached page 0's 立即安装.
  UpdateWindow(window_->GetHWND());
  ui_test::Pump(50);
  skin::Control* edit = window_->FindControl(L"installDirEdit");
  ASSERT_NE(edit, nullptr);
  const std::wstring driveRelative = work.substr(0, 2) + L"foo";  // "C:foo": that drive's current folder
  for (const std::wstring& text : {std::wstring(), std::wstring(L"   "), std::wstring(L"relative dir\\sub"),
                                   driveRelative, std::wstring(L"\\foo")}) {
    SCOPED_TRACE(Utils::WideToUtf8(L"'" + text + L"'"));
    shown_.clear();
    edit->SetText(text);
    ASSERT_TRUE(ui_test::ClickControl(window_->GetHWND(), L"customeInstallBtn"));
    for (int i = 0; i < 50 && shown_.empty(); ++i) ui_test::Pump(20);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].skin, L"MessageBox2Wnd.xml");
    EXPECT_EQ(shown_[0].text, L"无效路径");
    EXPECT_EQ(Page(), 1);
    EXPECT_TRUE(window_->FindControl(L"customeInstallBtn")->IsEnabled());
  }
  EXPECT_TRUE(PathIsDirectoryEmptyW(work.c_str())) << "nothing made under the working directory";
  EXPECT_EQ(exists(root + L"ONVelqor"), rootHadFolder) << "nothing made at the drive's root";
  EXPECT_EQ(exists(root + L"foo"), rootHadFoo);
  EXPECT_EQ(events_.Count(L"安装中"), 0);
}

// "-instdir" fills the folder box and is where 立即安装 installs. A failed
// download then closes with its exit code and takes the folders it made
// away with the window.
TEST_F(MainWindow, AChosenFolderIsInstalledIntoAndLeftEmptyIsRemoved) {
  const std::wstring chosen = folder_.substr(0, folder_.rfind(L'\\')) + L"\\chosen";
  Settings().InstDir = chosen;
  Settings().DownloadUrl = L"http://127.0.0.1:9/software/0/none.exe";  // nothing listens there
  FreeBytes(1ull << 40);
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Text(L"installDirEdit"), chosen);
  EXPECT_EQ(window_->exitCode(), ExitCode::kCancelled) << "nothing tried yet";
  ASSERT_TRUE(ui_test::ClickControl(window_->GetHWND(), L"defaultInstallBtn"));
  for (int i = 0; i < 500 && shown_.empty(); ++i) ui_test::Pump(20);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].skin, L"NetworkTipWnd.xml");
  EXPECT_TRUE(PathIsDirectoryW((chosen + L"\\ONVelqor").c_str())) << "made for the download";
  EXPECT_EQ(window_->exitCode(), ExitCode::kDownloadFailed);
  window_.reset();
  EXPECT_FALSE(PathFileExistsW(chosen.c_str())) << "the folders it made stay behind";
}

TEST_F(MainWindow, ReportsFillOneBarAndAFailureResetsItAboveSixtyNine) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Report(DL_CODE_PROGRESS, 0.5);
  EXPECT_EQ(Bar(), 35);
  EXPECT_EQ(Text(L"progressLb"), L"正在安装中:35%，请稍候...");
  Report(IST_CODE_PROGRESS, 0);
  Report(IST_CODE_PROGRESS, 0);
  EXPECT_EQ(Bar(), 78);
  Report(IST_CODE_FAIL, 1000, L"磁盘写入失败");
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].skin, L"MessageBox2Wnd.xml");
  EXPECT_EQ(shown_[0].text, L"磁盘写入失败");
  EXPECT_EQ(Bar(), 0);
  EXPECT_EQ(Text(L"progressLb"), L"正在安装中:0%，请稍候...");
  EXPECT_EQ(Page(), 0);

  Report(DL_CODE_PROGRESS, 0.99);  // 69: a failure leaves bar and text alone
  Report(IST_CODE_FAIL, 1000, L"");
  EXPECT_EQ(shown_.back().text, L"安装失败");
  EXPECT_EQ(Bar(), 69);
  EXPECT_EQ(events_.Count(L"安装失败原因"), 2);
}

// The reason of a failed download comes with its report, gathered on the
// thread where the download failed: the window sends it as it came (it
// probes nothing itself), asks the network question and goes back to the
// page the installation started from.
TEST_F(MainWindow, FailedDownloadSendsTheReasonItCarries) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::wstring reason =
      L"1.code=7；2.msg=timeout；3.缓存磁盘容量=10.50G；4.缓存读写权限=可读；5.服务器连接状态code=71";
  SendMessageW(window_->GetHWND(), WM_INSTALLER_REPORT, 0,
               reinterpret_cast<LPARAM>(new ReportRecord{DL_CODE_FAIL, 7, L"timeout", reason}));
  ASSERT_EQ(events_.Count(L"下载失败原因"), 1);
  EXPECT_EQ(events_.reasons.back(), reason);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].skin, L"NetworkTipWnd.xml");
  EXPECT_EQ(Page(), 0);
}

TEST_F(MainWindow, DownloaderStartedIsReportedOnceWhateverAsks) {
  ASSERT_NO_FATAL_FAILURE(Open());
  SendMessageW(window_->GetHWND(), WM_DOWNLOADER_STARTED, 0, 0);
  SendMessageW(window_->GetHWND(), WM_DOWNLOADER_STARTED, 0, 0);
  Report(DL_CODE_START, 1);
  Report(DL_CODE_START, 1);
  EXPECT_EQ(events_.Count(L"下载器启动"), 1);
  EXPECT_EQ(events_.Count(L"开始下载大包"), 2);
  Report(DL_CODE_SUCCESS, 0);
  EXPECT_EQ(events_.Count(L"大包下载完毕"), 1);
}

TEST_F(MainWindow, SuccessShowsTheFinishedPageAndRecordsTheInstallation) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Report(IST_INFO_INST_PATH, 0, folder_.c_str());
  Report(IST_INFO_TOP_SHOW_DETENTION, 0);
  Report(INSTALL_SUCCESS, 1);
  EXPECT_EQ(Page(), 3);
  EXPECT_EQ(Bar(), 100);
  EXPECT_EQ(events_.Count(L"安装成功"), 1);
  std::wstring recorded;
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\PeLanSoft\\Velqor", L"InstallPath", RRF_RT_REG_SZ, nullptr, value,
                   &size) == ERROR_SUCCESS)
    recorded = value;
  EXPECT_EQ(recorded, folder_);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PeLanSoft\\Velqor");
}

TEST_F(MainWindow, TheAutoCloseDelayThePackageAnnouncedClosesTheFinishedWindow) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Report(IST_INFO_INST_PATH, 0, folder_.c_str());
  Report(IST_INFO_FINISH_CLOSE_DETENTION, 300);
  Report(INSTALL_SUCCESS, 1);
  HWND window = window_->GetHWND();
  EXPECT_TRUE(IsWindow(window));
  for (int i = 0; i < 100 && IsWindow(window); ++i) ui_test::Pump(20);
  EXPECT_FALSE(IsWindow(window)) << "timer 11 requests the close";
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PeLanSoft\\Velqor");
}

// The shipped skins have no language list: a test skin proves the list works.
class LanguageSkin : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    archive_ = skin::test::ReadFileBytes(path.substr(0, path.rfind(L'\\')) + L"\\langskin.7z");
    ASSERT_FALSE(archive_.empty());
    skin::CloseRegisteredArchive();
    ASSERT_TRUE(skin::OpenRegisteredArchive(archive_.data(), archive_.size()));
  }
  void TearDown() override {
    MainWindow::TearDown();
    skin::CloseRegisteredArchive();  // the next window loads the embedded archive again
    skin::ClearLanguageTexts();
  }
  std::string archive_;
};

TEST_F(LanguageSkin, ChosenLanguageTextsAndTheSpaceMessage) {
  Settings().LanguageIndex = 1;
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Text(L"lbLanguage"), L"语言");
  EXPECT_EQ(Text(L"defaultInstallBtn"), L"立即安装");
  EXPECT_EQ(Settings().LanguageIndex, 1);

  auto* combo = static_cast<skin::Combo*>(window_->FindControl(L"languageCombo")->GetInterface(L"Combo"));
  ASSERT_TRUE(combo->SelectItem(0, true));
  EXPECT_EQ(Text(L"lbLanguage"), L"Language");
  EXPECT_EQ(Settings().LanguageIndex, 0);
  skin::Control* label = window_->FindControl(L"lbInstallPath");
  EXPECT_GT(label->GetFixedWidth(), 100) << "the label grows to its longer text";

  FreeBytes(0);
  EXPECT_FALSE(window_->StartInstall(folder_, true, true));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, L"Less than 1 GB free on the target drive");
}

}  // namespace
