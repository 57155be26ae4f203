// The real OndraVelqorSetup.exe: whether start-up creates the tracker (its
// identity file names the exe and the built-in endpoint) follows the
// settings file's analytics switch, not the command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "analytics/event_tracker.h"
#include "analytics/identity.h"
#include "install/exit_code.h"
#include "platform/strings.h"
#include "tests/support/test_support.h"

namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

class InstallerExe : public ::testing::Test {
 protected:
  void SetUp() override {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "ov_exe_analytics";
    CreateDirectoryA(dir_.c_str(), nullptr);
    exe_ = dir_ + "\\OndraVelqorSetup.exe";
    const std::string built = Folder(Folder(Folder(self))) + "\\app\\OndraVelqorSetup.exe";
    ASSERT_TRUE(CopyFileA(built.c_str(), exe_.c_str(), FALSE)) << built;
    std::string dataDir;
    pelan::tracking::LocateDataFolder(exe_, "Velqor.downloader", dataDir, identity_);
    DeleteFileA(identity_.c_str());
  }
  void TearDown() override {
    DeleteFileA((dir_ + "\\PelanInstallerConfig.ini").c_str());
    DeleteFileA(exe_.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  DWORD Run(const std::string& args) {
    return test_support::RunInstaller(Utils::AnsiToWide("\"" + exe_ + "\" " + args));
  }
  std::string Ini(const char* section, const char* key) {
    char buf[256] = {};
    GetPrivateProfileStringA(section, key, "<none>", buf, sizeof buf, identity_.c_str());
    return buf;
  }
  std::string dir_, exe_, identity_;
};

TEST_F(InstallerExe, AnalyticsOnCreatesTheTrackerWithTheExeAndEndpoint) {
  EXPECT_EQ(Run("-isenableappanalytics=false"),
            static_cast<DWORD>(ExitCode::kCancelled));  // the command line comes too late to stop it
  EXPECT_EQ(Ini("UninstallInfo", "AppStore"), "OndraVelqorSetup.exe");
  EXPECT_EQ(Ini("UninstallInfo", "AppName"), "Velqor.downloader");
  EXPECT_EQ(Ini("UninstallInfo", "AppVersion"), "1.7.9");
  EXPECT_EQ(Ini("Base", "URL"), pelan::tracking::DefaultServerUrl());
  EXPECT_EQ(Ini("Base", "isLogined"), "NG");
  EXPECT_EQ(Ini("Base", "DistinctId").size(), 36u);
}

TEST_F(InstallerExe, AnalyticsOffInTheSettingsFileCreatesNothing) {
  std::ofstream(dir_ + "\\PelanInstallerConfig.ini") << "[Install]\nIsEnableAppAnalytics=false\n";
  EXPECT_EQ(Run("-isenableappanalytics=true"), static_cast<DWORD>(ExitCode::kCancelled));
  EXPECT_EQ(GetFileAttributesA(identity_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
