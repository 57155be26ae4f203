// The quiet install through the real exe, as a deployment script runs it:
// no window, the outcome as the exit code. Packages come from nginx and the
// fault server, the analytics go to the collector (through the machine-wide
// test override), and the failures are produced for real: a mutex held, a
// file in the folder's way, an immutable folder, a 1 MiB volume (the
// "volumes" peer), a server answering 500, an unsigned package, a failing
// package, a running product, a failing uninstaller.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "install/exit_code.h"
#include "install/install_session.h"
#include "install/runner_test_support.h"
#include "install/uninstaller.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "tests/analytics/collector_client.h"
#include "tests/download/harness.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Exists;
using testing_support::ScopedScript;
using testing_support::ScratchFolder;

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? value : L"";
}

std::wstring HostPath(const char* path) {
  std::wstring wine = L"Z:" + Utils::Utf8ToWide(path);
  for (wchar_t& c : wine)
    if (c == L'/') c = L'\\';
  return wine;
}

constexpr const wchar_t* kTestHosts = L"Software\\PeLanSoft\\Velqor\\TestHosts";

// The exe's process as run with the user's token, its Administrators group
// made deny-only: what a launcher that refuses the elevation starts.
DWORD RunWithoutAdministratorRights(std::wstring commandLine) {
  Utils::UniqueHandle own, restricted;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put())) return 12345;
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(sid);
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size);
  SID_AND_ATTRIBUTES disabled = {sid, 0};
  if (!CreateRestrictedToken(own.get(), LUA_TOKEN, 1, &disabled, 0, nullptr, 0, nullptr, restricted.put()))
    return 12345;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!CreateProcessAsUserW(restricted.get(), nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
    return 12345;
  const Utils::ProcessHandles child(info);
  WaitForSingleObject(child.process.get(), 120000);
  DWORD code = 12345;
  GetExitCodeProcess(child.process.get(), &code);
  return code;
}

class QuietInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(collector_.ok()) << "the collector peer";
    collector_.Reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, Utils::kProductRegKey);  // no earlier installation
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTestHosts, L"AnalyticsUrl", REG_SZ,
                              Utils::Utf8ToWide(collector_.DataUrl()).c_str(),
                              static_cast<DWORD>((collector_.DataUrl().size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_TRUE(CopyFileW(HostPath(OV_INSTALLER_EXE).c_str(), exe_.c_str(), FALSE));
    url_ = Utils::Utf8ToWide(dltest::ServeByMd5(testing_support::SubstituteExe()));
  }
  void TearDown() override {
    product_.reset();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestHosts, KEY_WOW64_64KEY, 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, Utils::kProductRegKey);
  }
  // The first occurrence of an option counts: the arguments come first.
  std::wstring CommandLine(const std::wstring& args) const {
    return L"\"" + exe_ + L"\" " + args + L" -silent=true -ischecknet=false \"-log=" + log_ + L"\" \"-downloadurl=" +
           url_ + L"\"";
  }
  DWORD Run(const std::wstring& args) { return test_support::RunProcess(CommandLine(args), nullptr, 120000); }
  // The log's last lines, UTF-8 as written.
  std::string LogTail(size_t count) const {
    std::istringstream lines(dltest::ReadFile(log_));
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    std::string tail;
    for (size_t i = all.size() > count ? all.size() - count : 0; i < all.size(); ++i) tail += all[i] + "\n";
    return tail;
  }
  // "<event> <name>" of every record at the collector.
  std::vector<std::string> Events() {
    std::vector<std::string> names;
    const rapidjson::Document records = collector_.Records();
    for (const auto& r : records.GetArray()) {
      const auto& p = r["properties"];
      const char* key = p.HasMember("pl_task_name") ? "pl_task_name" : "pl_name";
      names.push_back(test_support::JsonString(r, "event") + " " + test_support::JsonString(p, key));
    }
    return names;
  }
  static DWORD ProductProcess() { return FindProcessByName(kProductExe); }
  // The folders of uninstaller copies, wherever an upgrade puts them.
  static std::vector<std::wstring> UninstallerCopies() {
    std::vector<std::wstring> folders;
    for (const bool elevated : {false, true}) {
      WIN32_FIND_DATAW found;
      const std::wstring base = UninstallerCopyBase(elevated);
      const Utils::UniqueFindHandle search(FindFirstFileW((base + L"ovun-*").c_str(), &found));
      if (search) do
          folders.push_back(base + found.cFileName);
        while (FindNextFileW(search.get(), &found));
    }
    return folders;
  }

  ScratchFolder scratch_;
  const std::wstring exe_ = scratch_ / L"OndraVelqorSetup.exe";
  const std::wstring log_ = scratch_ / L"setup.log";
  const std::wstring target_ = scratch_ / L"target";  // "-instdir": the product goes below it
  const std::wstring folder_ = target_ + L"\\ONVelqor";
  std::wstring url_;
  CollectorClient collector_;
  Utils::UniqueHandle product_;
};

// A package that would start the product at once in a window.
constexpr const char* kAutoStartingPackage =
    "say Encode=UTF8\nsay Progress=0.2\ninstall\nsay InstPath=${INSTDIR}\nsay ExePath=${INSTDIR}\\OndraVelqor.exe\n"
    "say UninstEp=${INSTDIR}\\uninst.ep\nsay StartupStyle=AutoStartup\nsay Progress=1\nsay State=Success\n";

// A clean install, then an upgrade over it: no window, exit code 0, the
// product and its records, the window's events without the view, the product
// never started, and the old version's uninstaller copy gone afterwards.
TEST_F(QuietInstall, InstallsThenUpgradesWithoutAWindow) {
  ScopedScript package(L"OV_PACKAGE_SCRIPT", scratch_ / L"pkg.txt", kAutoStartingPackage);
  ASSERT_EQ(Run(L"\"-instdir=" + target_ + L"\""), 0u) << LogTail(20);
  EXPECT_TRUE(Exists(folder_ + L"\\OndraVelqor.exe"));
  EXPECT_TRUE(Exists(folder_ + L"\\set.ini"));
  std::wstring recorded;
  EXPECT_TRUE(Utils::GetRegValue(L"InstallPath", recorded));
  EXPECT_EQ(recorded, folder_);
  EXPECT_EQ(ProductProcess(), 0u) << "a quiet install never starts the product";
  EXPECT_NE(LogTail(1).find("exit code 0 (success)"), std::string::npos) << LogTail(5);
  EXPECT_EQ(Events(), (std::vector<std::string>{"PlEventTask 下载器启动", "PlEventTask 开始下载大包",
                                                "PlEventTask 大包下载完毕", "PlEventTask 安装成功"}));

  // The upgrade finds the registered folder by itself.
  collector_.Reset();
  const std::vector<std::wstring> copiesBefore = UninstallerCopies();
  ASSERT_EQ(Run(L""), 0u) << LogTail(20);
  const std::string log = dltest::ReadFile(log_);
  EXPECT_NE(log.find("UNIST_CODE_SUCCESS"), std::string::npos) << "the old version was removed first";
  EXPECT_NE(log.find(Utils::WideToUtf8(L"quiet install into " + folder_)), std::string::npos);
  EXPECT_TRUE(Exists(folder_ + L"\\OndraVelqor.exe"));
  EXPECT_EQ(ProductProcess(), 0u);
  // Ours is gone with its folder; an earlier run's stale copy may go too
  // (an upgrade clears those), but nothing new stays.
  for (const std::wstring& copy : UninstallerCopies())
    EXPECT_NE(std::find(copiesBefore.begin(), copiesBefore.end(), copy), copiesBefore.end())
        << "the uninstaller's copy stayed: " << Utils::WideToUtf8(copy);
  const std::vector<std::string> events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "PlEventTask 安装成功");
}

// One row per way a quiet install ends without success: the exit code,
// nothing left where it would have installed, and the cause in the log's
// last lines.
TEST_F(QuietInstall, EachFailureEndsWithItsCodeAndLeavesNothing) {
  wchar_t signedFolder[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"OV_SIGNED_PACKAGES", signedFolder, MAX_PATH), 0u);
  const std::wstring tiny = Env(L"OV_TINY_VOLUME"), locked = Env(L"OV_LOCKED_FOLDER");
  ASSERT_FALSE(tiny.empty() || locked.empty()) << "the volumes peer";
  const std::wstring blocker = scratch_ / L"a file";  // where the folder should go
  dltest::WriteFile(blocker, "x");
  const std::string failingServer =
      dltest::PackageUrl("e500", dltest::AddScenario(R"({"name": "e500", "size": 1024, "get": [{"status": 500}]})"));
  Utils::UniqueHandle mutex;

  struct Case {
    const char* name;
    std::function<void()> arrange;  // what makes it fail
    std::wstring args;              // beyond -silent, -log and the package URL
    ExitCode code;
    const char* logged;  // in the log's last lines; null: the exe logs nothing
    bool withoutAdministratorRights = false;
    const char* package = nullptr;  // the package's script; null: its built-in one
  } cases[] = {
      {.name = "another installer holds the mutex",
       .arrange = [&] { mutex.reset(CreateMutexW(nullptr, TRUE, SingleInstanceGuard::MutexName())); },
       .code = ExitCode::kAnotherInstaller,
       .logged = nullptr},
      {.name = "a file where the folder goes",
       .args = L"\"-instdir=" + blocker + L"\"",
       .code = ExitCode::kFolderNotCreatable,
       .logged = "exit code 4 (folder not creatable): cannot create"},
      {.name = "a relative folder",
       .args = L"-instdir=relative\\apps",
       .code = ExitCode::kFolderNotCreatable,
       .logged = "cannot create relative\\apps\\ONVelqor: error 161"},
      {.name = "a folder only an administrator may create, elevated",
       .args = L"\"-instdir=" + locked + L"\"",
       .code = ExitCode::kFolderNotCreatable,
       .logged = "exit code 4 (folder not creatable): cannot create"},
      {.name = "the same folder, not elevated",
       .args = L"\"-instdir=" + locked + L"\"",
       .code = ExitCode::kNotElevated,
       .logged = "exit code 3 (not elevated): cannot create",
       .withoutAdministratorRights = true},
      {.name = "a 1 MiB volume",
       .args = L"\"-instdir=" + tiny + L"\"",
       .code = ExitCode::kNotEnoughSpace,
       .logged = "exit code 5 (not enough space)"},
      {.name = "a server that answers 500",
       .args = L"\"-downloadurl=" + Utils::Utf8ToWide(failingServer) + L"\"",
       .code = ExitCode::kDownloadFailed,
       .logged = "exit code 7 (download failed): 1.code="},
      {.name = "an unsigned package",
       .args = L"\"-downloadurl=" +
               Utils::Utf8ToWide(dltest::ServeByMd5(std::wstring(signedFolder) + L"\\unsigned.exe")) + L"\"",
       .code = ExitCode::kPackageRefused,
       .logged =
           "exit code 8 (package refused by the publisher check): 1.code=9001；2.msg=安装包签名校验失败: unsigned"},
      {.name = "a package that exits with its own code",
       .code = ExitCode::kPackageFailed,
       .logged = "exit code 9 (package failed): :1.code=1；2.msg=安装包异常退出，退出码=3",
       .package = "say Progress=0.2\nexit 3\n"},
      {.name = "the product runs",
       .arrange =
           [&] {
             testing_support::InstallSampleProduct(scratch_ / L"running");
             product_ = testing_support::StartSampleProduct(scratch_ / L"running");
             while (product_ && ProductProcess() == 0) Sleep(20);
           },
       .code = ExitCode::kProductRunning,
       .logged = "exit code 10 (product running): OndraVelqor.exe is running"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.args.empty()) c.args = L"\"-instdir=" + target_ + L"\"";
    DeleteFileW(log_.c_str());
    if (c.arrange) c.arrange();
    std::unique_ptr<ScopedScript> package;
    if (c.package) package = std::make_unique<ScopedScript>(L"OV_PACKAGE_SCRIPT", scratch_ / L"pkg.txt", c.package);
    const std::wstring line = CommandLine(c.args);
    const DWORD code = c.withoutAdministratorRights ? RunWithoutAdministratorRights(line)
                                                    : test_support::RunProcess(line, nullptr, 120000);
    mutex.reset();
    product_.reset();
    if (const DWORD running = ProductProcess())
      TerminateProcess(Utils::UniqueHandle(OpenProcess(PROCESS_TERMINATE, FALSE, running)).get(), 0);
    EXPECT_EQ(code, static_cast<DWORD>(c.code)) << LogTail(8);
    if (Exists(target_)) {
      std::string left;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(target_))
        left += " " + entry.path().string();
      ADD_FAILURE() << "a folder it made stays behind:" << left;
    }
    EXPECT_FALSE(Exists(blocker + L"\\ONVelqor"));
    for (const std::wstring& volume : {tiny, locked})
      EXPECT_TRUE(PathIsDirectoryEmptyW(volume.c_str())) << Utils::WideToUtf8(volume);
    if (c.logged)
      EXPECT_NE(LogTail(3).find(c.logged), std::string::npos) << LogTail(8);
    else
      EXPECT_EQ(LogTail(3), "") << "a second instance writes nothing";
    std::wstring recorded;
    EXPECT_FALSE(Utils::GetRegValue(L"InstallPath", recorded)) << "nothing recorded";
  }
}

// An earlier version whose uninstaller fails: it is not replaced.
TEST_F(QuietInstall, AnUninstallerThatFailsKeepsTheEarlierVersion) {
  const std::wstring uninstaller = testing_support::InstallSampleProduct(folder_);
  ASSERT_TRUE(Utils::SetRegValue(L"InstallPath", folder_));
  ScopedScript failing(L"OV_UNINSTALLER_SCRIPT", scratch_ / L"un.txt", "say Error=files in use\nexit 2\n");
  EXPECT_EQ(Run(L""), static_cast<DWORD>(ExitCode::kUninstallFailed)) << LogTail(8);
  const std::string tail = LogTail(3);
  EXPECT_NE(tail.find("exit code 11 (earlier version not removed)"), std::string::npos) << tail;
  EXPECT_NE(tail.find("files in use"), std::string::npos) << tail;
  EXPECT_TRUE(Exists(folder_ + L"\\OndraVelqor.exe")) << "the earlier version stays";
  EXPECT_FALSE(Exists(folder_ + L"\\__Package_Velqor.exe")) << "nothing was downloaded";
}

}  // namespace
