#include "app/settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "platform/paths.h"
#include "tests/support/test_support.h"
#include "tools/dbwin/dbwin_listener.h"

namespace {

// A folder with a fake exe path and, optionally, a settings file beside it,
// in a folder only administrators can write unless a test says otherwise.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"ov_settings_test_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    exe_ = dir_ + L"\\MySetup_v2.exe";
  }
  void TearDown() override {
    DeleteFileW(ini().c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring ini() const { return dir_ + L"\\PelanInstallerConfig.ini"; }
  enum class Folder { AdministratorsOnly, WritableByUsers };
  void WriteIni(const std::string& body, Folder folder = Folder::AdministratorsOnly) {
    std::ofstream(ini().c_str(), std::ios::binary) << body;
    if (folder == Folder::AdministratorsOnly) {
      ASSERT_TRUE(test_support::RestrictToAdministrators(dir_));
    }
    ASSERT_EQ(Utils::WritableWithoutAdminRights(ini()), folder == Folder::WritableByUsers);
  }
  InstallerSettings Loaded() {
    InstallerSettings s;
    s.Load(exe_);
    return s;
  }
  std::wstring dir_, exe_;
};

TEST_F(SettingsFileTest, NoFileGivesBuiltInDefaults) {
  const InstallerSettings s = Loaded();
  EXPECT_EQ(s.InstallerFileName, L"MySetup_v2.exe");
  EXPECT_EQ(s.DownloadUrl, BuiltInDownloadUrl());
  EXPECT_TRUE(s.DownloadUrl.ends_with(L"/software/10"));
  EXPECT_TRUE(s.DownloadUrl.starts_with(L"https://")) << "the built-in URL is https by default";
  EXPECT_EQ(s.DownloadType, 1);
  EXPECT_FALSE(s.IsCheckNet);
  EXPECT_TRUE(s.IsEnableAppAnalytics);
  EXPECT_EQ(s.DlAppNameSuffix, L".downloader");
  EXPECT_TRUE(s.m_DlAppVersion.empty());
  EXPECT_DOUBLE_EQ(s.DownloadScale, 0.7);
  EXPECT_TRUE(s.InstCmd.empty());
  EXPECT_TRUE(s.HttpReady);
  EXPECT_EQ(s.AbGroup, L"IN");
  EXPECT_EQ(s.LanguageIndex, -1);
  EXPECT_FALSE(s.InsNew);
  EXPECT_FALSE(s.Silent);
  EXPECT_FALSE(s.InstDir);
  EXPECT_EQ(s.ProductCode, L"Velqor");
  EXPECT_EQ(s.ProductVersion, L"1.7.9");
}

TEST_F(SettingsFileTest, SectionOnlyTurnsChecksOn) {
  WriteIni("[Install]\r\n");
  const InstallerSettings s = Loaded();
  EXPECT_TRUE(s.IsCheckNet);
  EXPECT_TRUE(s.IsEnableAppAnalytics);
  EXPECT_EQ(s.DownloadUrl, BuiltInDownloadUrl());
  EXPECT_EQ(s.DownloadType, 1);
  EXPECT_DOUBLE_EQ(s.DownloadScale, 0.7);
}

TEST_F(SettingsFileTest, ValuesAndTheirConversions) {
  WriteIni(
      "[Install]\r\nDownloadUrl=http://127.0.0.1:8080/a/${ROUTE}/b/${ROUTE}\r\nDownloadType=3\r\n"
      "IsCheckNet=True\r\nIsEnableAppAnalytics=false\r\nDlAppNameSuffix=.dl\r\nm_DlAppVersion=2.0\r\n"
      "DownloadScale=0.5x\r\nInstCmd=/quiet /x\r\n");
  const InstallerSettings s = Loaded();
  EXPECT_EQ(s.DownloadUrl, L"http://127.0.0.1:8080/a/download_silent/b/download_silent");
  EXPECT_EQ(s.DownloadType, 3);
  EXPECT_FALSE(s.IsCheckNet) << "\"True\" is not \"true\"";
  EXPECT_FALSE(s.IsEnableAppAnalytics);
  EXPECT_EQ(s.DlAppNameSuffix, L".dl");
  EXPECT_EQ(s.m_DlAppVersion, L"2.0");
  EXPECT_DOUBLE_EQ(s.DownloadScale, 0.5);
  EXPECT_EQ(s.InstCmd, L"/quiet /x");
}

// A web page can drop a settings file into a Downloads folder, where the
// installer then runs elevated: there the keys that choose what runs, and
// from where, are ignored and named in the log; the others still count.
TEST_F(SettingsFileTest, KeysThatChooseWhatRunsCountOnlyWhereJustAdministratorsWrite) {
  const std::string body =
      "[Install]\r\nDownloadUrl=http://127.0.0.1:1/old-signed-package\r\nDownloadType=2\r\n"
      "InstCmd=/planted\r\nSilent=true\r\nDownloadScale=0.5\r\nDlAppNameSuffix=.dl\r\n";
  for (const Folder folder : {Folder::WritableByUsers, Folder::AdministratorsOnly}) {
    const bool users = folder == Folder::WritableByUsers;
    SCOPED_TRACE(users ? "writable by users" : "administrators only");
    WriteIni(body, folder);
    DebugOutputListener listener;
    ASSERT_TRUE(listener.Start());
    const InstallerSettings s = Loaded();
    EXPECT_EQ(s.DownloadUrl, users ? BuiltInDownloadUrl() : L"http://127.0.0.1:1/old-signed-package");
    EXPECT_EQ(s.DownloadType, users ? 1 : 2);
    EXPECT_EQ(s.InstCmd, users ? L"" : L"/planted");
    EXPECT_EQ(s.Silent, !users) << "a planted file must not make the installer run unseen";
    EXPECT_DOUBLE_EQ(s.DownloadScale, 0.5);
    EXPECT_EQ(s.DlAppNameSuffix, L".dl");
    EXPECT_TRUE(s.IsCheckNet) << "a file that exists turns the network check on";
    const bool logged = listener.WaitFor("ignored DownloadUrl, DownloadType, InstCmd, Silent", users ? 5000 : 300,
                                         GetCurrentProcessId());
    EXPECT_EQ(logged, users);
  }
}

TEST_F(SettingsFileTest, OddValues) {
  WriteIni("[Install]\r\nIsCheckNet=1\r\nDownloadScale=abc\r\nDownloadType=x\r\nInstCmd=" + std::string(300, 'q') +
           "\r\n");
  const InstallerSettings s = Loaded();
  EXPECT_FALSE(s.IsCheckNet);
  EXPECT_DOUBLE_EQ(s.DownloadScale, 0.0);
  EXPECT_EQ(s.DownloadType, 0);  // GetPrivateProfileIntW of a non-number
  EXPECT_EQ(s.InstCmd, std::wstring(259, L'q'));
}

TEST(RouteSubstitution, EveryPlaceholderFollowsTheVersionLabel) {
  struct Case {
    const wchar_t* url;
    const wchar_t* label;
    const wchar_t* expected;
  } cases[] = {
      {L"http://h/${ROUTE}/x", L"10", L"http://h/download_silent/x"},
      {L"http://h/${ROUTE}/${ROUTE}", L"XP", L"http://h/download_silent_xp/download_silent_xp"},
      {L"http://h/${ROUTE}", L"XP-", L"http://h/download_silent_xp"},
      {L"http://h/${ROUTE}", L"XP+", L"http://h/download_silent_xp"},
      {L"http://h/${ROUTE}", L"11.0.22000", L"http://h/download_silent"},
      {L"http://h/$${ROUTE}}", L"7", L"http://h/$download_silent}"},
      {L"http://h/plain", L"XP", L"http://h/plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(SubstituteRoute(c.url, c.label), c.expected) << c.url;
}

TEST(CommandLine, OptionRules) {
  const CommandLineOptions o(
      LR"(C:\setup.exe -downloadtype=2 -downloadtype=3 -insnew "-instcmd=/a /b" -InsNew=true -x=a=b -empty= plain)");
  EXPECT_TRUE(o.Has(L"C:\\setup.exe"));       // the program path is an element like any other
  EXPECT_EQ(o.Integer(L"-downloadtype"), 2);  // first occurrence wins
  EXPECT_TRUE(o.Has(L"-insnew"));
  EXPECT_FALSE(o.Bool(L"-insnew"));  // present, empty value
  EXPECT_EQ(*o.Text(L"-instcmd"), L"/a /b");
  EXPECT_TRUE(o.Bool(L"-InsNew"));
  EXPECT_EQ(*o.Text(L"-x"), L"a=b");
  EXPECT_EQ(*o.Text(L"-empty"), L"");
  EXPECT_TRUE(o.Has(L"plain"));
  EXPECT_FALSE(o.Text(L"-missing").has_value());
  EXPECT_EQ(o.Integer(L"-missing"), 0);
  EXPECT_DOUBLE_EQ(o.Double(L"-missing", 0.25), 0.25);
}

TEST(CommandLine, AppliedOverTheSettings) {
  InstallerSettings s;
  s.IsCheckNet = true;
  s.ApplyCommandLine(
      LR"(setup.exe -downloadurl=http://x/${ROUTE}/p -downloadtype=abc -downloadscale=0.25 -ischecknet= )"
      LR"(-isenableappanalytics=false -dlappnamesuffix=.s -dlappversion=9 "-instcmd=/a /b" -language=3 )"
      LR"(-insnew=true -silent=true "-instdir=D:\My Apps" -unknown=1)");
  EXPECT_EQ(s.DownloadUrl, L"http://x/download_silent/p");
  EXPECT_EQ(s.DownloadType, 0);
  EXPECT_DOUBLE_EQ(s.DownloadScale, 0.25);
  EXPECT_FALSE(s.IsCheckNet);  // present with an empty value
  EXPECT_FALSE(s.IsEnableAppAnalytics);
  EXPECT_EQ(s.DlAppNameSuffix, L".s");
  EXPECT_EQ(s.m_DlAppVersion, L"9");
  EXPECT_EQ(s.InstCmd, L"/a /b");
  EXPECT_EQ(s.LanguageIndex, 3);
  EXPECT_TRUE(s.InsNew);
  EXPECT_TRUE(s.Silent);
  EXPECT_EQ(s.InstDir, L"D:\\My Apps");

  InstallerSettings t;
  t.Silent = true;  // from the settings file
  t.ApplyCommandLine(L"setup.exe -downloadurl= -InsNew=true -silent -instdir=");
  EXPECT_EQ(t.DownloadUrl, L"");
  EXPECT_FALSE(t.InsNew);
  EXPECT_FALSE(t.Silent) << "a bool option without \"=true\" is false, as every other";
  EXPECT_EQ(t.InstDir, L"") << "given, though empty: refused later as the custom page refuses it";
  EXPECT_DOUBLE_EQ(t.DownloadScale, 0.7);  // absent options change nothing
}

}  // namespace
