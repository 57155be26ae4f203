// The whole sequence from one CDownloadInstaller::Start: the recorded
// uninstaller (the substitute's "uninst.ep"), a real download from nginx or
// the fault server, and the downloaded substitute package run as the real
// child, which installs the sample product.
#include "install/download_installer.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <vector>

#include "analytics/installer_events.h"
#include "download/side_file.h"
#include "download/verify.h"
#include "install/child_output.h"
#include "install/installer.h"
#include "install/uninstaller.h"
#include "install/report_codes.h"
#include "install/runner_test_support.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "platform/child_process.h"
#include "platform/scoped_hook.h"
#include "tests/download/harness.h"
#include "tests/install/driver_harness.h"
#include "tools/dbwin/dbwin_listener.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Exists;
using testing_support::Recorded;
using testing_support::RemoveTree;
using testing_support::ScopedScript;
using testing_support::ScratchFolder;
using Reports = std::vector<Recorded>;
using Utils::WideToUtf8;

const Recorded kDownloadStart{DL_CODE_START, 1, L""}, kDownloaded{DL_CODE_SUCCESS, 0, L"LibCurl"},
    kUninstallLaunched{UNIST_CODE_PROGRESS, 0, L""};

// The reports of the built-in package script for this folder.
Reports PackageReports(const std::wstring& folder) {
  return {{IST_CODE_START, 0, L""},
          {IST_CODE_PROGRESS, 0, L""},
          {IST_CODE_PROGRESS, 0.1, L""},
          {IST_CODE_PROGRESS, 0.6, L""},
          {IST_INFO_INST_PATH, 0, folder},
          {IST_INFO_EXE_PATH, 0, folder + L"\\OndraVelqor.exe"},
          {IST_INFO_UNINST_EP, 0, folder + L"\\uninst.ep"},
          {IST_INFO_STARTUP_STYLE, 2, L""},
          {IST_CODE_PROGRESS, 1, L""},
          {INSTALL_SUCCESS, 0, L""}};
}

// ... and of the built-in uninstaller script.
const Reports kUninstalled{kUninstallLaunched, {5002, 0.3, L""}, {5002, 1, L""}, {UNIST_CODE_SUCCESS, 0, L""}};

Reports Concat(std::initializer_list<Reports> parts) {
  Reports all;
  for (const Reports& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) Sleep(10);
  return condition();
}

// Ends the process whose id a child of this test wrote into the file (and
// removes the file); nothing when there is no file.
void EndProcessNamedIn(const std::wstring& pidFile) {
  DWORD pid = 0;
  if (const Utils::UniqueStdioFile f{_wfopen(pidFile.c_str(), L"r")}) {
    if (std::fscanf(f.get(), "%lu", &pid) != 1) pid = 0;
  }
  DeleteFileW(pidFile.c_str());
  if (!pid) return;
  if (const Utils::UniqueHandle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)}) {
    TerminateProcess(process.get(), 9);
    WaitForSingleObject(process.get(), 10000);
  }
}

bool EndsSequence(int32_t code) {
  return code == INSTALL_SUCCESS || code == IST_CODE_FAIL || code == DL_CODE_FAIL || code == UNIST_CODE_FAIL ||
         code == UNIST_CODE_ERROR;
}

// Plays the window: records every report and knows when a sequence ended.
class Window {
 public:
  SequenceReport Callback() {
    return [this](const ReportRecord& report) {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back({report.code, report.number, report.text});
      // Only a failed download carries a reason.
      if (report.code == DL_CODE_FAIL)
        failures_.push_back(report);
      else
        EXPECT_TRUE(report.reason.empty()) << reports_.back();
      changed_.notify_all();
    };
  }
  // The DL_CODE_FAIL reports as they arrived, with their reasons.
  std::vector<ReportRecord> Failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
  }
  // Waits for an ending report after the first `after` reports; its index.
  size_t WaitForEnd(size_t after) {
    std::unique_lock<std::mutex> lock(mutex_);
    size_t found = SIZE_MAX;
    changed_.wait_for(lock, std::chrono::seconds(120), [&] {
      for (size_t i = after; i < reports_.size(); ++i)
        if (EndsSequence(reports_[i].code)) return (found = i), true;
      return false;
    });
    return found;
  }
  // The reports with the download's progress runs left out: how many a
  // download makes depends on its speed. The left-out ones must be sane.
  Reports Collapsed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Reports out;
    for (const Recorded& r : reports_) {
      if (r.code != DL_CODE_PROGRESS)
        out.push_back(r);
      else
        EXPECT_TRUE(r.number >= 0 && r.number <= 1 && r.text.empty()) << r;
    }
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.clear();
    failures_.clear();
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Reports reports_;
  std::vector<ReportRecord> failures_;
};

class SequenceTest : public ::testing::Test {
 protected:
  std::unique_ptr<CDownloadInstaller> Make(const std::string& url, const std::wstring& recordedUninstaller = {}) {
    auto orchestrator = std::make_unique<CDownloadInstaller>(window_.Callback(), options_);
    // The registered install folder is the target, as after an earlier installation there.
    orchestrator->Init({.downloadUrl = Utils::Utf8ToWide(url),
                        .previousInstallPath = target_,
                        .recordedUninstaller = recordedUninstaller,
                        .installFolder = target_});
    return orchestrator;
  }
  // Starts and waits for the sequence's end; an uninstall error is final
  // only once its run is over (a success may still follow from it).
  void StartAndFinish(CDownloadInstaller& orchestrator) {
    orchestrator.Start();
    Finish(orchestrator);
  }
  void Finish(CDownloadInstaller& orchestrator) {
    for (size_t end = window_.WaitForEnd(0);; end = window_.WaitForEnd(end + 1)) {
      ASSERT_NE(end, SIZE_MAX) << "no end in time";
      if (window_.Collapsed().back().code != UNIST_CODE_ERROR) break;
      orchestrator.WaitForUninstallRun();
      if (window_.Collapsed().back().code == UNIST_CODE_ERROR) break;
    }
  }
  // The substitute served by nginx below its md5, as the package server does.
  std::string ServePackage(const std::wstring& file = testing_support::SubstituteExe()) {
    return dltest::ServeByMd5(file);
  }
  // Installs the sample product with the substitute package directly.
  std::wstring InstallSampleProduct() { return testing_support::InstallSampleProduct(target_); }
  std::wstring Package() const { return target_ + L"\\__Package_Velqor.exe"; }

  SequenceOptions options_;  // what the settings would decide
  dltest::FastTiming timing_;
  ScratchFolder folder_;
  // Two levels that do not exist yet: the download's start creates them.
  const std::wstring target_ = folder_ / L"Apps\\ONVelqor";
  Window window_;
};

// Only the publisher's intact package runs: the substitute signed in every
// way the trust check must tell apart (tools/signing), through the whole
// sequence. A refusal is a failed download that says why, and leaves nothing.
TEST_F(SequenceTest, OnlyThePublishersPackageRuns) {
  wchar_t signedFolder[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"OV_SIGNED_PACKAGES", signedFolder, MAX_PATH), 0u);
  const auto signedCopy = [&](const wchar_t* who) { return std::wstring(signedFolder) + L"\\" + who + L".exe"; };
  struct Case {
    const char* name;
    const wchar_t* file;
    bool redirected = false;  // the server hands over another file, its MD5 in the final URL
    const wchar_t* refusal;   // null: installs
  } cases[] = {
      {.name = "signed by the publisher", .file = L"publisher", .refusal = nullptr},
      {.name = "unsigned", .file = L"unsigned", .refusal = L"unsigned (0x800B0100)"},
      {.name = "signed, then one byte changed", .file = L"flipped", .refusal = L"bad signature (0x80096010)"},
      {.name = "another key with the publisher's name",
       .file = L"stranger",
       .refusal = L"signed by an unknown publisher"},
      {.name = "the publisher's key, an expired certificate",
       .file = L"expired",
       .refusal = L"publisher certificate expired"},
      {.name = "swapped for a stranger's on the way, MD5 and all",
       .file = L"stranger",
       .redirected = true,
       .refusal = L"signed by an unknown publisher"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_.Clear();
    std::string url = ServePackage(signedCopy(c.file));
    if (c.redirected) url = dltest::NginxBase() + "/redir" + url.substr(dltest::NginxBase().size());
    auto orchestrator = Make(url);
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    const Reports reports = window_.Collapsed();
    ASSERT_FALSE(reports.empty());
    if (!c.refusal) {
      EXPECT_EQ(reports.back().code, INSTALL_SUCCESS);
      EXPECT_TRUE(Exists(target_ + L"\\OndraVelqor.exe"));
    } else {
      ASSERT_GE(reports.size(), 2u);
      const Recorded& notice = reports[reports.size() - 2];
      EXPECT_EQ(notice.code, DL_CODE_NOTICE);
      EXPECT_EQ(notice.text.rfind(L"安装包签名校验失败: ", 0), 0u) << notice;
      EXPECT_NE(notice.text.find(c.refusal), std::wstring::npos) << notice;
      EXPECT_EQ(reports.back().code, DL_CODE_FAIL);
      EXPECT_EQ(reports.back().number, kFailUntrustedPackage);
      for (const Recorded& r : reports) EXPECT_NE(r.code, DL_CODE_SUCCESS) << "a refused package is no success";
      EXPECT_FALSE(Exists(target_ + L"\\OndraVelqor.exe")) << "it never ran";
    }
    EXPECT_FALSE(Exists(Package())) << "nothing is left behind";
    test_support::RemoveTree(target_);
  }
}

TEST_F(SequenceTest, CleanInstallStartsWithTheDownload) {
  // A recorded uninstaller that is gone is not run.
  auto orchestrator = Make(ServePackage(), folder_ / L"gone\\uninst.ep");
  StartAndFinish(*orchestrator);
  EXPECT_EQ(orchestrator->packagePath(), Package());
  EXPECT_TRUE(Eventually([&] { return orchestrator->phase() == SequencePhase::kInstalled; }));
  orchestrator.reset();  // waits for the package run
  EXPECT_EQ(window_.Collapsed(), Concat({{kDownloadStart, kDownloaded}, PackageReports(target_)}));
  EXPECT_TRUE(Exists(target_ + L"\\OndraVelqor.exe"));
  EXPECT_TRUE(Exists(target_ + L"\\uninst.ep"));
  EXPECT_FALSE(Exists(Package()));
  EXPECT_EQ(CDownloadInstaller::LastPackagePath(), Package());
}

TEST_F(SequenceTest, UpgradeUninstallsFirst) {
  const std::wstring recorded = InstallSampleProduct();
  ASSERT_TRUE(Exists(recorded));
  auto orchestrator = Make(ServePackage(), recorded);
  StartAndFinish(*orchestrator);
  orchestrator.reset();
  EXPECT_EQ(window_.Collapsed(), Concat({kUninstalled, {kDownloadStart, kDownloaded}, PackageReports(target_)}));
  EXPECT_TRUE(Exists(target_ + L"\\OndraVelqor.exe"));
  EXPECT_FALSE(Exists(Package()));
}

TEST_F(SequenceTest, UninstallOutcomes) {
  const std::string url = ServePackage();
  struct Case {
    const char* name;
    std::string script;           // the uninstaller's, when it runs
    bool lockRecorded = false;    // the copy cannot be made
    bool recordedIsText = false;  // the copy is no program
    Reports uninstall;            // what the uninstall reports
    bool downloads = false;
    const wchar_t* elsewhere = nullptr;  // the recorded uninstaller is a program here, relative to the target
  } cases[] = {
      {.name = "copy fails", .lockRecorded = true, .uninstall = {{UNIST_CODE_FAIL, 1, L"可执行卸载文件不存在"}}},
      // Not a program, so not the publisher's: refused before any launch.
      {.name = "not the publisher's",
       .recordedIsText = true,
       .uninstall = {{UNIST_CODE_FAIL, 4, L"卸载程序签名校验失败: unsigned (0x800B0003)"}}},
      {.name = "error",
       .script = "say Error=boom\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_ERROR, 0, L"boom"}}},
      {.name = "fail",
       .script = "say State=Fail\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_ERROR, 0, L"安装包卸载失败"}}},
      // The orchestrator follows the reports: a success from the same run still downloads.
      {.name = "error then success",
       .script = "say Error=late\nsleep 300\nsay State=Success\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_ERROR, 0, L"late"}, {UNIST_CODE_SUCCESS, 0, L""}},
       .downloads = true},
      // The recorded path comes from the user's registry hive: a program
      // outside the registered install folder is not run, elevated or not.
      {.name = "outside the install folder",
       .uninstall = {{UNIST_CODE_FAIL, 3, L"卸载文件不在安装目录中"}},
       .elsewhere = L"..\\evil.exe"},
      {.name = "outside, by a name that only starts alike",
       .uninstall = {{UNIST_CODE_FAIL, 3, L"卸载文件不在安装目录中"}},
       .elsewhere = L"..\\ONVelqorX\\uninst.ep"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring recorded = InstallSampleProduct();
    if (c.recordedIsText) {
      recorded = target_ + L"\\uninst-text.ep";
      dltest::WriteFile(recorded, "this is not a program\r\n");
    }
    if (c.elsewhere) {
      recorded = target_ + L"\\" + c.elsewhere;
      std::filesystem::create_directories(std::filesystem::path(recorded).parent_path());
      ASSERT_TRUE(CopyFileW(testing_support::SubstituteExe().c_str(), recorded.c_str(), FALSE));
    }
    Utils::UniqueHandle lock(
        c.lockRecorded ? CreateFileW(recorded.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr);
    std::unique_ptr<ScopedScript> script;
    if (!c.script.empty())
      script = std::make_unique<ScopedScript>(L"OV_UNINSTALLER_SCRIPT", folder_ / L"un.txt", c.script);
    window_.Clear();
    auto orchestrator = Make(url, recorded);
    StartAndFinish(*orchestrator);
    orchestrator->WaitForUninstallRun();
    const SequencePhase end = c.downloads ? SequencePhase::kInstalled : SequencePhase::kUninstallFailed;
    EXPECT_TRUE(Eventually([&] { return orchestrator->phase() == end; }))
        << Utils::WideToUtf8(PhaseName(orchestrator->phase()));
    orchestrator.reset();  // waits for every run: nothing may follow
    lock.reset();
    const Reports expected =
        c.downloads ? Concat({c.uninstall, {kDownloadStart, kDownloaded}, PackageReports(target_)}) : c.uninstall;
    EXPECT_EQ(window_.Collapsed(), expected);
  }
}

// A failed download deletes its package and the one remembered from an
// earlier end; the window's second Start then reuses the downloader.
TEST_F(SequenceTest, DownloadFailureThenSecondStart) {
  const std::string url = ServePackage();
  const std::filesystem::path served = dltest::NginxRoot() / url.substr(url.find('/', 7) + 1);
  const std::filesystem::path hidden = served.wstring() + L".hidden";
  std::filesystem::rename(served, hidden);  // 404 for now

  ScratchFolder earlierFolder;
  const std::wstring earlierPackage = earlierFolder / L"__Package_Velqor.exe";
  {
    Window earlierWindow;
    CDownloadInstaller earlier(earlierWindow.Callback(), SequenceOptions{});
    earlier.Init({.downloadUrl = Utils::Utf8ToWide(url), .installFolder = earlierFolder.path()});
    earlier.Start();
    ASSERT_NE(earlierWindow.WaitForEnd(0), SIZE_MAX);
    ASSERT_EQ(earlierWindow.Collapsed().back().code, DL_CODE_FAIL);
  }
  ASSERT_EQ(CDownloadInstaller::LastPackagePath(), earlierPackage);
  dltest::WriteFile(earlierPackage, "left behind");

  auto orchestrator = Make(url);
  StartAndFinish(*orchestrator);
  const Reports failed = window_.Collapsed();
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed.front(), kDownloadStart);
  EXPECT_EQ(failed.back().code, DL_CODE_FAIL);
  EXPECT_EQ(failed.back().text, L"LibCurl");
  ASSERT_EQ(window_.Failures().size(), 1u);
  const ReportRecord firstFailure = window_.Failures()[0];
  // The window hears of the failure first; the clean-up follows on the
  // downloader's thread.
  EXPECT_TRUE(Eventually([&] { return CDownloadInstaller::LastPackagePath() == Package(); }));
  EXPECT_FALSE(Exists(Package()));
  EXPECT_FALSE(Exists(earlierPackage));

  EXPECT_TRUE(Eventually([&] { return orchestrator->phase() == SequencePhase::kDownloadFailed; }));

  // A second failure, with a folder in the package's place: nothing can be
  // written there now.
  std::filesystem::create_directories(std::filesystem::path(Package()));
  window_.Clear();
  StartAndFinish(*orchestrator);
  std::filesystem::remove(std::filesystem::path(Package()));
  ASSERT_EQ(window_.Collapsed().back().code, DL_CODE_FAIL);

  // The reasons came with the reports, gathered on the downloader's thread
  // with the real write test and the real free space of the package's
  // drive; the window only sends them to analytics.
  struct Sink : InstallerEventSink {
    void Task(const std::wstring& name, const std::wstring& reason, float, const std::wstring& ab) override {
      tasks.push_back({name, reason, ab});
    }
    void Click(const std::wstring&, const std::wstring&) override {}
    void View(const std::wstring&, const std::wstring&) override {}
    void Crash(const std::wstring&) override {}
    std::vector<std::array<std::wstring, 3>> tasks;
  } sink;
  const Utils::ScopedHook sinkInPlace(&SetInstallerEventSink, &sink);
  for (const ReportRecord& report : {firstFailure, window_.Failures().at(0)})
    CDownloadInstaller::ReportDownloadFailure(report, {{L"AB", L"IN"}});
  CDownloadInstaller::ReportFailureReason({DL_CODE_NOTICE, 0, L"curl文件md5校验失败"}, true, {{L"AB", L"IN"}});
  CDownloadInstaller::ReportFailureReason({IST_CODE_FAIL, 1000, L"x"}, false, {{L"AB", L"IN"}});
  ASSERT_EQ(sink.tasks.size(), 4u);
  EXPECT_EQ(sink.tasks[2],
            (std::array<std::wstring, 3>{L"下载失败原因", L":1.code=0；2.msg=curl文件md5校验失败", L"IN"}));
  EXPECT_EQ(sink.tasks[3], (std::array<std::wstring, 3>{L"安装失败原因", L":1.code=1000；2.msg=x", L"IN"}));
  sink.tasks.resize(2);
  ULARGE_INTEGER available = {}, total, totalFree;
  ASSERT_TRUE(GetDiskFreeSpaceExW(target_.substr(0, 2).c_str(), &available, &total, &totalFree));
  const std::wregex text(
      L"1\\.code=(-?\\d+)；2\\.msg=(.*)；3\\.缓存磁盘容量=(\\d+\\.\\d\\d)G；4\\.缓存读写权限=(可读|无权限)"
      L"；5\\.服务器连接状态code=\\d+");
  const ReportRecord reports[] = {firstFailure, window_.Failures().at(0)};
  for (size_t i = 0; i < 2; ++i) {
    const auto& [name, reason, ab] = sink.tasks[i];
    EXPECT_EQ(name, L"下载失败原因");
    EXPECT_EQ(ab, L"IN");
    EXPECT_EQ(reason, reports[i].reason);
    std::wsmatch match;
    ASSERT_TRUE(std::regex_match(reason, match, text)) << WideToUtf8(reason);
    EXPECT_EQ(match[1].str(), std::to_wstring(static_cast<long>(reports[i].number)));
    EXPECT_EQ(match[2].str(), i == 0 ? L"LibCurl" : reports[i].text);
    EXPECT_NEAR(std::stod(match[3].str()), available.QuadPart / 1073741824.0, 0.05);
    EXPECT_EQ(match[4].str(), i == 0 ? L"可读" : L"无权限");
  }
  EXPECT_FALSE(Exists(Package())) << "the write test leaves nothing behind";

  // The user retries once the package is there.
  std::filesystem::rename(hidden, served);
  window_.Clear();
  orchestrator->Start();
  Finish(*orchestrator);
  orchestrator.reset();
  EXPECT_EQ(window_.Collapsed(), Concat({{kDownloadStart, kDownloaded}, PackageReports(target_)}));
  EXPECT_FALSE(Exists(Package()));
}

TEST_F(SequenceTest, InstallFailureDeletesThePackage) {
  const std::string url = ServePackage();
  struct Case {
    const char* script;
    Recorded failure;
  } cases[] = {
      {"say Progress=0.2\nsay Error=disk full\n", {IST_CODE_FAIL, 1000, L"disk full"}},
      {"say State=Fail\nsleep 500\n", {IST_CODE_FAIL, 0, L"安装包安装失败"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ScopedScript script(L"OV_PACKAGE_SCRIPT", folder_ / L"pkg.txt", c.script);
    window_.Clear();
    auto orchestrator = Make(url);
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    Reports expected{kDownloadStart, kDownloaded, {IST_CODE_START, 0, L""}, {IST_CODE_PROGRESS, 0, L""}};
    if (c.failure.number == 1000) expected.push_back({IST_CODE_PROGRESS, 0.2, L""});
    expected.push_back(c.failure);
    EXPECT_EQ(window_.Collapsed(), expected);
    EXPECT_FALSE(Exists(Package()));
    EXPECT_EQ(CDownloadInstaller::LastPackagePath(), Package());
  }
}

// The window may start again after an uninstall error while that run goes
// on and still succeeds: its late success belongs to the earlier sequence
// and must not start a download while the new uninstaller runs.
TEST_F(SequenceTest, LateSuccessOfAnEarlierUninstallStartsNothing) {
  const std::wstring recorded = InstallSampleProduct();
  ScopedScript script(L"OV_UNINSTALLER_SCRIPT", folder_ / L"un.txt", "say Error=late\nsleep 1000\nsay State=Success\n");
  auto orchestrator = Make(ServePackage(), recorded);
  orchestrator->Start();
  ASSERT_NE(window_.WaitForEnd(0), SIZE_MAX);
  ASSERT_EQ(window_.Collapsed().back().code, UNIST_CODE_ERROR);
  orchestrator->Start();  // the first run is still going; this waits for it
  Finish(*orchestrator);
  orchestrator->WaitForUninstallRun();
  EXPECT_TRUE(Eventually([&] { return orchestrator->phase() == SequencePhase::kInstalled; }))
      << Utils::WideToUtf8(PhaseName(orchestrator->phase()));
  orchestrator.reset();
  const Reports reports = window_.Collapsed();
  const auto download = std::find(reports.begin(), reports.end(), kDownloadStart);
  ASSERT_NE(download, reports.end());
  EXPECT_EQ(std::count(reports.begin(), download, kUninstallLaunched), 2)
      << "the download follows the second uninstall";
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kDownloadStart), 1);
  EXPECT_EQ(reports.back().code, INSTALL_SUCCESS);
}

// How real children misbehave, each run through the whole sequence: lines
// written in pieces, exits without a final line, a flood on standard error,
// an uninstaller that reports success twice or goes on working after it.
// Every row ends in exactly one download and at most one package run, and
// the product is there exactly when the sequence says it was installed.
TEST_F(SequenceTest, ChildBehaviours) {
  const std::string url = ServePackage();
  const std::wstring newMarker = target_ + L"\\new-package-ran";
  const std::string marker = WideToUtf8(newMarker);
  const std::wstring pidPath = folder_ / L"uninstaller.pid";
  const std::string pidFile = WideToUtf8(pidPath);
  const Reports packageStart{{IST_CODE_START, 0, L""}, {IST_CODE_PROGRESS, 0, L""}};
  struct Case {
    const char* name;
    std::string uninstaller;  // its script; empty: nothing is installed before
    std::string package;      // its script; empty: the built-in one
    Reports uninstall;        // what the uninstall reports, when it runs
    Reports package_;         // what the package run reports after 2001, 2002 (0); empty: the built-in run's
    bool downloads = true;
  } cases[] = {
      {.name = "package: final line in two writes",
       .package = "part State=Fa\nsleep 300\nsay il\nexit 1\n",
       .package_ = {{IST_CODE_FAIL, 0, L"安装包安装失败"}}},
      {.name = "package: message in two writes",
       .package = "part Error=disk \nsleep 300\nsay full\nexit 1\n",
       .package_ = {{IST_CODE_FAIL, 1000, L"disk full"}}},
      {.name = "package: last line without a line feed",
       .package = "part State=Fa\nsleep 300\npart il\nexit 1\n",
       .package_ = {{IST_CODE_FAIL, 0, L"安装包安装失败"}}},
      {.name = "package: exit 3 without a final line",
       .package = "say Progress=0.5\nexit 3\n",
       .package_ = {{IST_CODE_PROGRESS, 0.5, L""}, {IST_CODE_FAIL, 1, L"安装包异常退出，退出码=3"}}},
      {.name = "package: crash status without a final line",
       .package = "exit 3221225477\n",
       .package_ = {{IST_CODE_FAIL, 1, L"安装包异常退出，退出码=0xC0000005"}}},
      {.name = "package: exit 0 without a final line",
       .package = "install\nexit 0\n",
       .package_ = {{INSTALL_SUCCESS, 1, L""}}},
      {.name = "package: 64 KiB on standard error",
       .package = "install\nerrfill 65536 E\nsay State=Success\n",
       .package_ = {{INSTALL_SUCCESS, 0, L""}}},
      {.name = "uninstaller: success twice",
       .uninstaller = "say State=Success\nsleep 300\nsay State=Success\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}, {UNIST_CODE_SUCCESS, 0, L""}}},
      // It waits (a while) for the new package to run, then removes the
      // product: the new package must not run before it has exited.
      {.name = "uninstaller: goes on removing files after its success",
       .uninstaller = "say State=Success\nwait-for 2000 " + marker + "\nuninstall\n",
       .package = "say Progress=0.1\ninstall\ntouch " + marker + "\nsay State=Success\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}},
       .package_ = {{IST_CODE_PROGRESS, 0.1, L""}, {INSTALL_SUCCESS, 0, L""}}},
      {.name = "uninstaller: final line in two writes",
       .uninstaller = "part State=Succ\nsleep 300\nsay ess\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}}},
      {.name = "uninstaller: 64 KiB on standard error",
       .uninstaller = "errfill 65536 E\nsay State=Success\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}}},
      {.name = "uninstaller: success, then failure",
       .uninstaller = "say State=Success\nsleep 300\nsay Error=rollback\n",
       .uninstall = {kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}, {UNIST_CODE_ERROR, 0, L"rollback"}},
       .downloads = false},
      // Waited for up to the limit (3 s here), then a clear failure.
      {.name = "uninstaller: runs on after its success",
       .uninstaller = "pidfile " + pidFile + "\nsay State=Success\nhang\n",
       .uninstall = {kUninstallLaunched,
                     {UNIST_CODE_SUCCESS, 0, L""},
                     {UNIST_CODE_ERROR, 0, L"卸载程序报告成功后仍未退出"}},
       .downloads = false},
  };
  const Utils::ScopedHook exitWait(&CUnInstaller::SetExitWaitForTesting, 3000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(target_);
    std::wstring recorded;
    if (!c.uninstaller.empty()) recorded = InstallSampleProduct();
    std::unique_ptr<ScopedScript> uninstallerScript, packageScript;
    if (!c.uninstaller.empty())
      uninstallerScript = std::make_unique<ScopedScript>(L"OV_UNINSTALLER_SCRIPT", folder_ / L"un.txt", c.uninstaller);
    if (!c.package.empty())
      packageScript = std::make_unique<ScopedScript>(L"OV_PACKAGE_SCRIPT", folder_ / L"pkg.txt", c.package);
    window_.Clear();
    auto orchestrator = Make(url, recorded);
    orchestrator->Start();
    orchestrator->WaitForUninstallRun();  // its late reports are part of the row
    Finish(*orchestrator);
    orchestrator.reset();  // waits for every run: nothing may follow
    EndProcessNamedIn(pidPath);
    Reports expected = c.uninstall;
    if (c.downloads) {
      const Reports run = c.package_.empty() ? PackageReports(target_) : Concat({packageStart, c.package_});
      expected = Concat({expected, {kDownloadStart, kDownloaded}, run});
      EXPECT_TRUE(Eventually([&] { return !Exists(Package()); }));
      EXPECT_EQ(Exists(target_ + L"\\OndraVelqor.exe"), expected.back().code == INSTALL_SUCCESS);
    }
    EXPECT_EQ(window_.Collapsed(), expected);
  }
}

// A stranger's program: the substitute package marked so that its run shows
// (it writes OV_ATTACK_MARKER's file). The marker variable goes with it.
struct AttackerPayload {
  std::wstring program, marker;
  explicit AttackerPayload(const ScratchFolder& folder)
      : program(folder / L"payload.exe"), marker(folder / L"attacker-won") {
    dltest::WriteFile(program, dltest::ReadFile(testing_support::SubstituteExe()) + "OV-ATTACKER-WON!");
    SetEnvironmentVariableW(L"OV_ATTACK_MARKER", marker.c_str());
  }
  ~AttackerPayload() { SetEnvironmentVariableW(L"OV_ATTACK_MARKER", nullptr); }
};

// A local user who may write the install folder keeps replacing the package
// with its own program while the sequence runs, through the window between
// the download's check and the launch, and keeps planting a version.dll
// beside it (a DLL the package imports, looked for in its folder first).
// Its code must never run in the package's place: the package is held (no
// writes, no replacing rename) from a check through that hold until its
// process has started, and started with the system-DLL policy. A replaced
// package is refused (IST_CODE_FAIL) or downloaded again; it never runs.
// OV_ATTACK_RUNS sets the number of sequences (10 by default).
TEST_F(SequenceTest, LocalAttackerNeverRunsItsPackage) {
  const std::string url = ServePackage();
  const AttackerPayload attacker(folder_);
  const std::wstring& payload = attacker.program;
  const std::wstring& marker = attacker.marker;
  wchar_t runsText[16] = {};
  const int runs = GetEnvironmentVariableW(L"OV_ATTACK_RUNS", runsText, 16) ? _wtoi(runsText) : 10;
  std::wstring planted = testing_support::SubstituteExe();
  planted = planted.substr(0, planted.find_last_of(L'\\')) + L"\\planted\\version.dll";
  ASSERT_TRUE(Exists(planted));
  unsigned long tries = 0, replaced = 0, plants = 0;
  int wins = 0, installed = 0, refused = 0;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE(run);
    RemoveTree(target_);
    std::filesystem::create_directories(std::filesystem::path(target_));
    const std::wstring stop = folder_ / L"stop", count = folder_ / L"count";
    DeleteFileW(stop.c_str());
    DeleteFileW(count.c_str());
    std::wstring line = L"\"" + testing_support::SubstituteExe() + L"\" --attack \"" + Package() + L"\" \"" + payload +
                        L"\" \"" + stop + L"\" \"" + count + L"\" \"" + planted + L"\"";
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &info));
    Utils::ProcessHandles attacker(info);
    window_.Clear();
    auto orchestrator = Make(url);
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    dltest::WriteFile(stop, "");
    EXPECT_EQ(WaitForSingleObject(attacker.process.get(), 30000), WAIT_OBJECT_0);
    attacker = Utils::ProcessHandles();
    unsigned long t = 0, r = 0, p = 0;
    if (const Utils::UniqueStdioFile f{_wfopen(count.c_str(), L"r")}) {
      if (std::fscanf(f.get(), "%lu %lu %lu", &t, &r, &p) != 3) t = r = p = 0;
    }
    tries += t;
    replaced += r;
    plants += p;
    if (Exists(marker)) ++wins;
    DeleteFileW(marker.c_str());
    const int32_t end = window_.Collapsed().back().code;
    if (end == INSTALL_SUCCESS)
      ++installed;
    else
      ++refused;
  }
  std::printf(
      "local attacker: %d sequences, %lu tries, %lu package replacements, %lu DLL plants, %d wins; %d "
      "installed, %d refused or failed\n",
      runs, tries, replaced, plants, wins, installed, refused);
  EXPECT_EQ(wins, 0);
  EXPECT_GT(tries, 0u);
  EXPECT_GT(plants, 0u);
}

// The fault server serves the real package, flipping one byte the first
// time: the url-md5 check fails, the downloader asks for a retry and the
// orchestrator starts it again from inside that report (for the segmented
// downloader, from its waiting thread, which the new attempt joins).
TEST_F(SequenceTest, RetryAfterMd5Mismatch) {
  std::string hostPath = WideToUtf8(testing_support::SubstituteExe().substr(2));  // Wine's Z: is the host's root
  for (char& c : hostPath)
    if (c == '\\') c = '/';
  struct Case {
    int type;
    const char* name;
    const wchar_t* notice;
  } cases[] = {{1, "md5retry", L"curl文件md5校验失败"}, {3, "mtmd5retry", L"mtcurl文件md5校验失败"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    options_.downloadType = c.type;
    const std::string md5 = dltest::AddScenario(std::string(R"({"name": ")") + c.name + R"(", "file": ")" + hostPath +
                                                R"(", "get": [{"corrupt": 4096}, {}]})");
    window_.Clear();
    auto orchestrator = Make(dltest::PackageUrl(c.name, md5));
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    EXPECT_EQ(window_.Collapsed(), Concat({{kDownloadStart,
                                            {DL_CODE_NOTICE, 0, c.notice},
                                            {DL_CODE_RETRY, 0, L"LibCurl"},
                                            kDownloadStart,
                                            kDownloaded},
                                           PackageReports(target_)}));
    EXPECT_GE(dltest::CountRequests(dltest::Requests(c.name), "GET"), 2);
    EXPECT_FALSE(Exists(Package()));
  }
}

// The one moment the package is not held: between the download's writing
// handle and its hold. A stranger's program put there then is not handed
// over as held; the file is read to check it, fails its MD5 and is fetched
// again, and only the real package runs.
TEST_F(SequenceTest, APackageChangedBeforeItsHoldIsReadAndRefetched) {
  const std::string url = ServePackage();
  const AttackerPayload attacker(folder_);
  const std::wstring& payload = attacker.program;
  const std::wstring& marker = attacker.marker;
  struct Case {
    int type;
    const wchar_t* notice;
  } cases[] = {{1, L"curl文件md5校验失败"}, {3, L"mtcurl文件md5校验失败"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    options_.downloadType = c.type;
    bool replaced = false;
    const Utils::ScopedHook gap(&download::SideFile::SetHoldGapHookForTesting, [&](const std::wstring& path) {
      if (replaced || path != Package()) return;
      replaced = CopyFileW(payload.c_str(), (path + L".staged").c_str(), FALSE) &&
                 MoveFileExW((path + L".staged").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    });
    window_.Clear();
    auto orchestrator = Make(url);
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(window_.Collapsed(), Concat({{kDownloadStart,
                                            {DL_CODE_NOTICE, 0, c.notice},
                                            {DL_CODE_RETRY, 0, L"LibCurl"},
                                            kDownloadStart,
                                            kDownloaded},
                                           PackageReports(target_)}));
    EXPECT_FALSE(Exists(marker)) << "the stranger's program never ran";
    EXPECT_FALSE(Exists(Package()));
    RemoveTree(target_);
  }
}

// Closing the window while the old version is being removed: destruction
// waits for the uninstaller, and its late success starts no download on a
// half-destroyed orchestrator.
TEST_F(SequenceTest, DestructionDuringUninstallStartsNothing) {
  const std::wstring recorded = InstallSampleProduct();
  ScopedScript script(L"OV_UNINSTALLER_SCRIPT", folder_ / L"un.txt", "sleep 500\nsay State=Success\n");
  auto orchestrator = Make(ServePackage(), recorded);
  orchestrator->Start();
  orchestrator.reset();
  EXPECT_EQ(window_.Collapsed(), (Reports{kUninstallLaunched, {UNIST_CODE_SUCCESS, 0, L""}}));
  EXPECT_FALSE(Exists(Package()));
}

// An installer killed inside CreateProcess leaves its child created but
// never resumed, holding its file open: the next run ends it (it has run
// nothing), be it the package, whose file it must download again, or an
// uninstaller copy, whose folder then goes, and installs.
TEST_F(SequenceTest, NextRunEndsChildrenThatNeverStarted) {
  const std::string url = ServePackage();
  struct Case {
    const char* name;
    std::wstring image;
    bool upgrade;
  } cases[] = {
      {.name = "package", .image = Package(), .upgrade = false},
      {.name = "uninstaller copy",
       .image = UninstallerCopyBase(false) + L"ovun-frozen\\" + kUninstallerCopyName,
       .upgrade = true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(target_);
    const std::wstring recorded = c.upgrade ? InstallSampleProduct() : L"";
    std::filesystem::create_directories(std::filesystem::path(c.image).parent_path());
    ASSERT_TRUE(CopyFileW(testing_support::SubstituteExe().c_str(), c.image.c_str(), FALSE));
    std::wstring line = L"\"" + c.image + L"\" /S -console=show /D=" + target_;
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &info));
    const Utils::ProcessHandles frozen(info);
    ASSERT_TRUE(NeverStarted(frozen.processId));
    window_.Clear();
    auto orchestrator = Make(url, recorded);
    StartAndFinish(*orchestrator);
    orchestrator.reset();
    const Reports run = Concat({{kDownloadStart, kDownloaded}, PackageReports(target_)});
    EXPECT_EQ(window_.Collapsed(), c.upgrade ? Concat({kUninstalled, run}) : run);
    EXPECT_EQ(WaitForSingleObject(frozen.process.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(Eventually([&] { return !Exists(c.image); }));
    TerminateProcess(frozen.process.get(), 0);  // when it was not ended
  }
}

// With InsNew, Start waits on the caller's thread while the product runs:
// the old uninstaller could not remove it.
Utils::UniqueHandle g_product;
int g_looks = 0;
size_t g_reportsWhileWaiting = 0;
Window* g_window = nullptr;
void EndProductOnThirdLook() {
  g_reportsWhileWaiting += g_window->size();
  if (++g_looks == 3) {
    TerminateProcess(g_product.get(), 0);  // we started it: end it by its handle
    WaitForSingleObject(g_product.get(), 10000);
  }
}

TEST_F(SequenceTest, InsNewWaitsForTheRunningProduct) {
  const std::wstring recorded = InstallSampleProduct();
  DWORD productId = 0;
  g_product = testing_support::StartSampleProduct(target_, &productId);
  ASSERT_TRUE(g_product);
  g_window = &window_;
  EXPECT_EQ(FindProcessByName(kProductExe), productId);
  EXPECT_EQ(FindProcessByName(L"ondravelqor.exe"), 0u) << "the name is compared exactly";
  EXPECT_EQ(FindProcessByName(L"OndraVelqor"), 0u);

  options_.insNew = true;
  const Utils::ScopedHook pause(&CDownloadInstaller::SetProductWaitPause, &EndProductOnThirdLook);
  auto orchestrator = Make(ServePackage(), recorded);
  StartAndFinish(*orchestrator);
  orchestrator.reset();
  g_product.reset();
  EXPECT_GE(g_looks, 3);
  EXPECT_EQ(g_reportsWhileWaiting, 0u);
  EXPECT_EQ(window_.Collapsed(), Concat({kUninstalled, {kDownloadStart, kDownloaded}, PackageReports(target_)}));
}

// The download type picks the downloader; a URL without url-md5 shows which
// one ran (the libcurl ones say so in their notice, the system one checks
// nothing).
TEST_F(SequenceTest, DownloadTypeSelectsTheDownloader) {
  const std::string withMd5 = ServePackage();
  const std::string plain = dltest::NginxBase() + "/plain/pkg.exe";
  std::filesystem::create_directories(dltest::NginxRoot() / "plain");
  std::filesystem::copy_file(dltest::NginxRoot() / withMd5.substr(withMd5.find('/', 7) + 1),
                             dltest::NginxRoot() / "plain" / "pkg.exe");
  struct Case {
    int type;
    Reports download;
  } cases[] = {
      {2, {kDownloadStart, {DL_CODE_SUCCESS, 0, L"URLDownloadToFile"}}},
      {3, {kDownloadStart, {DL_CODE_NOTICE, 0, L"mtcurl获取url-md5失败"}, kDownloaded}},
      {7, {kDownloadStart, {DL_CODE_NOTICE, 0, L"curl获取url-md5失败"}, kDownloaded}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    options_.downloadType = c.type;
    auto orchestrator = Make(plain);
    // A second Start serves again (the system downloader runs only once,
    // so it is replaced; the libcurl ones are reused).
    for (int run = 0; run < 2; ++run) {
      SCOPED_TRACE(run);
      window_.Clear();
      StartAndFinish(*orchestrator);
      EXPECT_TRUE(Eventually([&] { return !Exists(Package()); }));
      EXPECT_EQ(window_.Collapsed(), Concat({c.download, PackageReports(target_)}));
    }
    orchestrator.reset();
  }
}

}  // namespace

// The console driver of the demo: one line per report, exit code 0 only
// for an installation that succeeded.
namespace {

using seqtest::DriverRun;
using seqtest::KillPlan;
using seqtest::kPhaseCount;
using seqtest::RunDriver;

TEST_F(SequenceTest, ConsoleDriverPrintsEveryReport) {
  const std::string url = ServePackage();
  const DriverRun installed =
      RunDriver(L"--url " + Utils::Utf8ToWide(url) + L" --folder \"" + target_ + L"\"", folder_ / L"out1.txt");
  EXPECT_EQ(installed.exitCode, 0u);
  const std::string folder = WideToUtf8(target_);
  // How many download progress lines (1002) come depends on the transfer's
  // speed against the progress throttle; the rest is fixed.
  std::string withoutProgress;
  std::istringstream lines(installed.output);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("1002 ", 0) != 0) withoutProgress += line + "\n";
  EXPECT_EQ(withoutProgress, "1001 1 \n1003 0 LibCurl\n2001 0 \n2002 0 \n2002 0.1 \n2002 0.6 \n3000 0 " + folder +
                                 "\n3001 0 " + folder + "\\OndraVelqor.exe\n3003 0 " + folder +
                                 "\\uninst.ep\n3005 2 \n2002 1 \n2003 0 \n");

  ScopedScript script(L"OV_UNINSTALLER_SCRIPT", folder_ / L"un.txt", "say State=Fail\n");
  const DriverRun failed = RunDriver(L"--url " + Utils::Utf8ToWide(url) + L" --folder \"" + target_ +
                                         L"\" --uninstaller \"" + target_ + L"\\uninst.ep\"",
                                     folder_ / L"out2.txt");
  EXPECT_EQ(failed.exitCode, 1u);
  EXPECT_EQ(failed.output, "5002 0 \n5005 0 安装包卸载失败\n");
}

// The installer killed at any moment: the console driver runs the real
// sequence (uninstall of the previous version, download, package run) and is
// ended by TerminateProcess at a random point of one phase, the phases in
// turn; its children run on, as they would. Then a run to the end must
// install, and the folder must hold exactly one product and nothing of a
// download or a package. OV_KILL_RUNS sets the number of rounds (6 by default).
TEST_F(SequenceTest, KilledAtAnyMomentThenCompletes) {
  const std::wstring url = Utils::Utf8ToWide(ServePackage());
  wchar_t runsText[16] = {};
  const int rounds = GetEnvironmentVariableW(L"OV_KILL_RUNS", runsText, 16) ? _wtoi(runsText) : 6;
  // Orphans of a killed run (package, uninstaller copy) end by themselves;
  // the next installer would find them gone in the field too.
  int orphansLeftRunning = 0;
  // One that never started (its installer was killed inside CreateProcess)
  // never ends: the next run ends it.
  auto waitForOrphans = [&] {
    // Name, id and thread count of each orphan still running.
    auto running = [] {
      std::string found;
      Utils::ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if ((!wcscmp(entry.szExeFile, L"__Package_Velqor.exe") || !wcscmp(entry.szExeFile, kUninstallerCopyName)) &&
            !NeverStarted(entry.th32ProcessID))
          found += WideToUtf8(entry.szExeFile) + " " + std::to_string(entry.th32ProcessID) + " (" +
                   std::to_string(entry.cntThreads) + " threads) ";
        return true;
      });
      return found;
    };
    for (int i = 0; i < 600 && !running().empty(); ++i) Sleep(50);
    const std::string left = running();
    if (!left.empty()) ++orphansLeftRunning;
    EXPECT_EQ(left, "") << "still running after 30 s";
  };
  const std::wstring recorded = target_ + L"\\uninst.ep";
  auto arguments = [&] {
    std::wstring line = L"--url " + url + L" --folder \"" + target_ + L"\"";
    if (Exists(recorded)) line += L" --uninstaller \"" + recorded + L"\"";
    return line;
  };
  // Each round is an upgrade, so all three phases happen; the last complete
  // run's timeline spreads the kills over the phase's length.
  // The driver's log: a launch failure names its call and error only there.
  DebugOutputListener log;
  const bool logging = log.Start();
  auto failureLines = [&] {
    std::string lines;
    for (const DebugOutputLine& line : log.Lines())
      if (line.text.find("fail") != std::string::npos || line.text.find("ending") != std::string::npos)
        lines += line.text;
    return lines;
  };
  DriverRun full = RunDriver(arguments(), folder_ / L"full.txt");
  ASSERT_EQ(full.exitCode, 0u) << full.output << failureLines();
  std::array<ULONGLONG, kPhaseCount> lengthMs = {300, 300, 300};
  std::srand(12);
  std::array<int, kPhaseCount> killedIn = {};
  int completions = 0, leftovers = 0, endedBeforeKill = 0;
  for (int i = 0; i < rounds; ++i) {
    SCOPED_TRACE(i);
    for (int p = 0; p < kPhaseCount; ++p)
      if (full.reachedMs[p] != ULLONG_MAX && full.reachedMs[p + 1] != ULLONG_MAX)
        lengthMs[p] = full.reachedMs[p + 1] - full.reachedMs[p];
    const KillPlan plan = {i % kPhaseCount, static_cast<DWORD>(std::rand() % (lengthMs[i % kPhaseCount] + 1))};
    const DriverRun cut = RunDriver(arguments(), folder_ / L"cut.txt", &plan);
    if (cut.killed())
      ++killedIn[std::max(cut.killedIn(), 0)];
    else
      ++endedBeforeKill;
    waitForOrphans();

    log.Clear();
    full = RunDriver(arguments(), folder_ / L"full.txt");
    waitForOrphans();
    EXPECT_EQ(full.exitCode, 0u) << full.output << (logging ? failureLines() : "(no log: channel taken)\n");
    if (full.exitCode == 0) ++completions;
    // One product, its uninstaller, its settings; no package, part or
    // segment file, no second copy anywhere below the target.
    std::vector<std::wstring> extra;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(target_))) {
      const std::wstring name = entry.path().filename().wstring();
      if (name != L"OndraVelqor.exe" && name != L"uninst.ep" && name != L"set.ini") extra.push_back(name);
    }
    EXPECT_TRUE(Exists(target_ + L"\\OndraVelqor.exe"));
    EXPECT_TRUE(extra.empty()) << WideToUtf8(extra.front());
    if (!extra.empty() || !Exists(target_ + L"\\OndraVelqor.exe")) ++leftovers;
  }
  std::printf(
      "killed at any moment: %d rounds, kills in uninstall %d, download %d, package run %d; %d runs ended "
      "before their kill; %d completions, %d leftovers, %d times orphans still ran after 30 s\n",
      rounds, killedIn[0], killedIn[1], killedIn[2], endedBeforeKill, completions, leftovers, orphansLeftRunning);
  EXPECT_EQ(leftovers, 0);
  EXPECT_EQ(completions, rounds);
  EXPECT_EQ(orphansLeftRunning, 0);
  EXPECT_GT(killedIn[0] + killedIn[1] + killedIn[2], 0);
}

}  // namespace
