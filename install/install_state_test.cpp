// InstallState against the real registry key and real INI files. The data
// folder follows APPDATA, which each test points into its own scratch folder.
#include "install/install_state.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "install/runner_test_support.h"
#include "platform/paths.h"
#include "platform/strings.h"

namespace {

using testing_support::RemoveTree;

std::wstring TempRoot() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"ov_install_state_test";
}

std::wstring Ini(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t value[512] = {};
  GetPrivateProfileStringW(section, key, L"<missing>", value, 512, file.c_str());
  return value;
}

class InstallStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(root_);
    CreateDirectoryW(root_.c_str(), nullptr);
    GetEnvironmentVariableW(L"APPDATA", savedAppData_, MAX_PATH);
    SetEnvironmentVariableW(L"APPDATA", (root_ + L"\\AppData").c_str());
    ClearRecord();
  }
  void TearDown() override {
    ClearRecord();
    SetEnvironmentVariableW(L"APPDATA", savedAppData_);
    RemoveTree(root_);
  }
  static void ClearRecord() {
    Utils::UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Utils::kProductRegKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(key.get(), L"InstallPath");
    RegDeleteValueW(key.get(), L"UnInstallEp");
  }
  static DWORD StoredBytes(const wchar_t* name) {
    Utils::UniqueRegistryKey key;
    DWORD bytes = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Utils::kProductRegKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, &bytes);
    return bytes;
  }
  std::wstring MakeFolder(const std::wstring& name) {
    const std::wstring folder = root_ + L"\\" + name;
    Utils::CreateDirectories(folder);
    return folder;
  }

  const std::wstring root_ = TempRoot();
  wchar_t savedAppData_[MAX_PATH] = {};
};

TEST_F(InstallStateTest, ReadFillsTheRegisteredPaths) {
  InstallState state;
  state.registeredInstallPath = L"stale";
  state.Read();
  EXPECT_EQ(state.registeredInstallPath, L"");
  EXPECT_EQ(state.registeredUninstallerPath, L"");

  Utils::SetRegValue(L"InstallPath", L"D:\\Tools\\ONVelqor");
  state.Read();
  EXPECT_EQ(state.registeredInstallPath, L"D:\\Tools\\ONVelqor");
  EXPECT_EQ(state.registeredUninstallerPath, L"D:\\Tools\\ONVelqor\\uninst.ep");

  Utils::SetRegValue(L"UnInstallEp", L"E:\\u\\remove.ep");
  state.Read();
  EXPECT_EQ(state.registeredUninstallerPath, L"E:\\u\\remove.ep");
}

TEST_F(InstallStateTest, WriteRecordsTheReportedFolderAndAnExistingUninstaller) {
  const std::wstring folder = MakeFolder(L"Installed");
  InstallState state;
  state.reportedInstallFolder = folder;
  Utils::SetRegValue(L"UnInstallEp", L"C:\\previous\\uninst.ep");
  state.Write();  // the derived uninstaller does not exist yet: the old value stays
  EXPECT_EQ(state.reportedUninstallerPath, folder + L"\\uninst.ep");
  std::wstring value;
  ASSERT_TRUE(Utils::GetRegValue(L"InstallPath", value));
  EXPECT_EQ(value, folder);
  const DWORD bytes = StoredBytes(L"InstallPath");
  EXPECT_TRUE(bytes == 2 * folder.size() || bytes == 2 * folder.size() + 2) << bytes;  // Wine may add the null
  ASSERT_TRUE(Utils::GetRegValue(L"UnInstallEp", value));
  EXPECT_EQ(value, L"C:\\previous\\uninst.ep");

  std::ofstream((folder + L"\\remove.ep").c_str()) << "x";
  state.reportedUninstallerPath = folder + L"\\remove.ep";
  state.Write();
  ASSERT_TRUE(Utils::GetRegValue(L"UnInstallEp", value));
  EXPECT_EQ(value, folder + L"\\remove.ep");

  // A package that reported an empty folder must not wipe the record.
  InstallState empty;
  empty.Write();
  ASSERT_TRUE(Utils::GetRegValue(L"InstallPath", value));
  EXPECT_EQ(value, folder);
}

TEST_F(InstallStateTest, SetIniAndAnalyticsIni) {
  const std::wstring folder = MakeFolder(L"Product");
  InstallState state;
  state.reportedInstallFolder = folder;
  state.WriteSetIni();
  const std::wstring setIni = folder + L"\\set.ini";
  EXPECT_EQ(Ini(setIni, L"Install", L"APPStore"), L"install_state_test.exe");
  EXPECT_EQ(Ini(setIni, L"Install", L"AppName"), L"Velqor");
  const std::wstring firstId = Ini(setIni, L"Install", L"DeviceID");
  EXPECT_TRUE(std::regex_match(Utils::WideToUtf8(firstId), std::regex("[0-9A-F]{12}[0-9a-f]{4}[0-9A-F]{16}")))
      << Utils::WideToUtf8(firstId);
  const std::wstring analytics = root_ + L"\\AppData\\PeLanData\\ONVelqor\\PLAnalytics.ini";
  EXPECT_EQ(InstallState::DataFolder(), root_ + L"\\AppData\\PeLanData\\ONVelqor");
  EXPECT_EQ(Ini(setIni, L"Install", L"PLAnalyticsIni"), analytics);
  EXPECT_TRUE(std::regex_match(Utils::WideToUtf8(Ini(analytics, L"Init", L"UpdateTime")),
                               std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")));

  state.WriteSetIni();
  const std::wstring secondId = Ini(setIni, L"Install", L"DeviceID");
  EXPECT_NE(secondId, firstId);
  EXPECT_EQ(secondId.size(), 32u);
}

TEST_F(InstallStateTest, DataFolderThatCannotBeCreatedLeavesOutTheAnalyticsKey) {
  const std::wstring folder = MakeFolder(L"Product");
  // Readable, but the data folder below it would pass 260 characters.
  const std::wstring appData = root_ + L"\\" + std::wstring(250 - root_.size(), L'd');
  SetEnvironmentVariableW(L"APPDATA", appData.c_str());
  InstallState state;
  state.reportedInstallFolder = folder;
  state.WriteSetIni();
  const std::wstring setIni = folder + L"\\set.ini";
  EXPECT_EQ(Ini(setIni, L"Install", L"AppName"), L"Velqor");
  EXPECT_EQ(Ini(setIni, L"Install", L"PLAnalyticsIni"), L"<missing>");
}

TEST_F(InstallStateTest, SkipsUninstallOnlyForTheRegisteredFolderWithIsOverrideFalse) {
  const std::wstring registered = MakeFolder(L"Registered");
  const std::wstring other = MakeFolder(L"Other");
  InstallState state;
  state.registeredInstallPath = registered;
  EXPECT_FALSE(state.SkipsUninstall(registered)) << "no set.ini: default true";
  struct Case {
    const wchar_t* value;
    bool skips;
  } cases[] = {{L"false", true}, {L"FALSE", false}, {L"true", false}, {L"no", false}};
  for (const auto& c : cases) {
    for (const auto& f : {registered, other})
      WritePrivateProfileStringW(L"Uninstall", L"IsOverride", c.value, (f + L"\\set.ini").c_str());
    EXPECT_EQ(state.SkipsUninstall(registered), c.skips) << Utils::WideToUtf8(c.value);
    EXPECT_FALSE(state.SkipsUninstall(other));
  }
}

TEST(ChooseDefaultFolder, Rules) {
  struct Case {
    DefaultFolderInputs in;
    const wchar_t* expected;
  } cases[] = {
      {{L"D:\\Tools\\ONVelqor", true, false, false, L"C:\\AppData", L"C:\\PF86", L"C:\\PF"}, L"D:\\Tools\\ONVelqor"},
      {{L"D:\\Tools\\ONVelqor", false, true, true, L"C:\\AppData", L"C:\\PF86", L"C:\\PF"},
       L"C:\\AppData\\pelan\\ONVelqor"},
      {{L"", true, true, true, L"C:\\AppData", L"C:\\PF86", L"C:\\PF"}, L"C:\\AppData\\pelan\\ONVelqor"},
      {{L"", false, true, false, L"C:\\AppData", L"C:\\PF86", L"C:\\PF"}, L"C:\\PF86\\ONVelqor"},
      {{L"", false, false, true, L"C:\\AppData", L"C:\\PF86", L"C:\\PF"}, L"C:\\PF86\\ONVelqor"},
      {{L"", false, true, true, L"", L"C:\\PF86", L"C:\\PF"}, L"C:\\PF86\\ONVelqor"},
      {{L"", false, false, false, L"", L"", L"C:\\PF"}, L"C:\\PF\\ONVelqor"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseDefaultFolder(c.in), c.expected) << Utils::WideToUtf8(c.expected);
}

TEST(IsSameFolder, RelativePathIsDot) {
  EXPECT_TRUE(IsSameFolder(L"C:\\Apps\\ONVelqor", L"C:\\Apps\\ONVelqor"));
  // As the system computes relative paths, a trailing "\\" makes another folder.
  EXPECT_FALSE(IsSameFolder(L"C:\\Apps\\ONVelqor\\", L"C:\\Apps\\ONVelqor"));
  EXPECT_TRUE(IsSameFolder(L"c:\\apps\\onvelqor", L"C:\\Apps\\ONVelqor"));
  EXPECT_FALSE(IsSameFolder(L"C:\\Apps", L"C:\\Apps\\ONVelqor"));
  EXPECT_FALSE(IsSameFolder(L"D:\\Apps\\ONVelqor", L"C:\\Apps\\ONVelqor"));
  EXPECT_FALSE(IsSameFolder(L"", L"C:\\Apps"));
}

TEST_F(InstallStateTest, DefaultAndChosenFolders) {
  InstallState state;
  const std::wstring defaultFolder = state.DefaultFolder();
  EXPECT_TRUE(defaultFolder.ends_with(L"\\ONVelqor"));
  if (state.consoleUserIsAdmin && state.processIsElevated) {
    EXPECT_EQ(defaultFolder, root_ + L"\\AppData\\pelan\\ONVelqor");
  }
  EXPECT_TRUE(state.IsDefaultFolder(defaultFolder));
  EXPECT_FALSE(state.IsDefaultFolder(L"C:\\Apps"));
  EXPECT_EQ(state.ChosenFolder(defaultFolder), defaultFolder);
  EXPECT_EQ(state.ChosenFolder(L"C:/Apps"), L"C:\\Apps\\ONVelqor");
  EXPECT_EQ(state.ChosenFolder(L"D:\\Tools\\"), L"D:\\Tools\\ONVelqor");

  // A registered folder whose uninstaller is missing is not offered again.
  const std::wstring registered = MakeFolder(L"Registered");
  state.registeredInstallPath = registered;
  state.registeredUninstallerPath = registered + L"\\uninst.ep";
  EXPECT_EQ(state.DefaultFolder(), defaultFolder);
  std::ofstream((registered + L"\\uninst.ep").c_str()) << "x";
  EXPECT_EQ(state.DefaultFolder(), registered);
  EXPECT_EQ(state.ChosenFolder(registered), registered);
}

}  // namespace
