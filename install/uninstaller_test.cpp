// CUnInstaller against the substitute uninstaller (the "uninst.ep" that the
// substitute package installs), a real child process.
#include "install/uninstaller.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <fstream>
#include <memory>

#include "install/installer.h"
#include "install/report_codes.h"
#include "install/runner_test_support.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/sysinfo.h"

namespace {

using testing_support::Exists;
using testing_support::Recorded;
using testing_support::Recorder;
using testing_support::ScopedScript;
using testing_support::ScratchFolder;
using Reports = std::vector<Recorded>;
using Utils::WideToUtf8;

const Recorded kLaunched{5002, 0, L""}, kExitedWithoutFinalLine{5003, 1, L""};

class UninstallerTest : public ::testing::Test {
 protected:
  // Installs the sample product with the substitute package; returns the
  // recorded uninstaller, as the installed state would name it.
  std::wstring InstallSampleProduct() { return testing_support::InstallSampleProduct(target_); }
  // Runs the copy of the recorded uninstaller to its end.
  void Uninstall(const std::wstring& recorded, const std::string& script = {}) {
    std::unique_ptr<ScopedScript> scoped;
    if (!script.empty())
      scoped = std::make_unique<ScopedScript>(L"OV_UNINSTALLER_SCRIPT", folder_ / L"script.txt", script);
    const UninstallPreparation prepared = PrepareUninstallerCopy(recorded, false);
    CUnInstaller runner(recorder_.Callback(), prepared.copyPath, prepared.previousFolder);
    runner.Start();
    commandLine_ = runner.commandLine();
  }  // the destructor waits for the run
  Reports Finished() const { return recorder_.Reports(); }

  ScratchFolder folder_;
  const std::wstring target_ = folder_ / L"ONVelqor";
  Recorder recorder_;
  std::wstring commandLine_;
};

TEST_F(UninstallerTest, RemovesTheInstalledSampleProduct) {
  const std::wstring recorded = InstallSampleProduct();
  ASSERT_TRUE(Exists(recorded));
  Uninstall(recorded);
  EXPECT_EQ(Finished(), (Reports{kLaunched, {5002, 0.3, L""}, {5002, 1, L""}, {5003, 0, L""}}));
  EXPECT_FALSE(Exists(target_ + L"\\OndraVelqor.exe"));
  EXPECT_FALSE(Exists(target_)) << "the folder is removed when empty";
  // A fresh folder of its own in the private temporary folder.
  EXPECT_TRUE(commandLine_.starts_with(L"\"" + Utils::GetTempWorkFolder() + L"ovun-")) << WideToUtf8(commandLine_);
  EXPECT_NE(commandLine_.find(L"\\ONVelqor_un_asa.exe\" /S -adminact="), std::wstring::npos)
      << WideToUtf8(commandLine_);
  EXPECT_TRUE(commandLine_.ends_with(L" -console=show _?=" + target_)) << WideToUtf8(commandLine_);
}

TEST_F(UninstallerTest, RunningProductMakesTheUninstallFail) {
  const std::wstring recorded = InstallSampleProduct();
  const Utils::UniqueHandle product = testing_support::StartSampleProduct(target_);
  ASSERT_TRUE(product);
  Sleep(300);
  Uninstall(recorded);
  // We started the product: end it by its id.
  TerminateProcess(product.get(), 0);
  WaitForSingleObject(product.get(), 10000);
  EXPECT_EQ(Finished(),
            (Reports{kLaunched, {5002, 0.3, L""}, {5005, 0, L"cannot remove OndraVelqor.exe, is it running?"}}));
}

TEST_F(UninstallerTest, ScriptedRuns) {
  const std::wstring recorded = InstallSampleProduct();
  struct Case {
    const char* name;
    std::string script;
    Reports tail;  // after (5002, 0)
  } cases[] = {
      {"silent exit", "exit 0\n", {kExitedWithoutFinalLine}},
      {"error then success in separate writes",
       "say Error=message\nsleep 200\nsay State=Success\n",
       {{5005, 0, L"message"}, {5003, 0, L""}}},
      {"state fail", "say State=Fail\n", {{5005, 0, L"安装包卸载失败"}}},
      // Reading goes on after a final line while the uninstaller runs.
      {"success then progress", "say State=Success\nsleep 200\nsay Progress=0.9\n", {{5003, 0, L""}, {5002, 0.9, L""}}},
      {"UTF-8 after Encode=UTF8", "say Encode=UTF8\nsleep 200\nsay Error=无法卸载\n", {{5005, 0, L"无法卸载"}}},
      // The last lines before the exit are still in the pipe when the exit
      // is seen; they are read, so a late error is not lost.
      {"error right before the exit", "lines 300 Progress=0.5\nsay Error=late\nexit 0\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_.Clear();
    Uninstall(recorded, c.script);
    const Reports reports = Finished();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0], kLaunched);
    if (c.tail.empty()) {
      EXPECT_EQ(reports.back(), (Recorded{5005, 0, L"late"}));
      for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].code, 5002);  // a line cut by a read reads as 0
        EXPECT_TRUE(reports[i].number == 0.5 || reports[i].number == 0) << reports[i];
      }
    } else {
      EXPECT_EQ(Reports(reports.begin() + 1, reports.end()), c.tail);
    }
  }
}

// A read under way when the uninstaller exits waits for the descendant
// that inherited the output, as the package runner's does; the run then
// ends with the closing report, never hangs on the exit it missed.
TEST_F(UninstallerTest, DescendantHoldingTheOutputDelaysTheEnd) {
  const std::wstring marker = folder_ / L"holder-done.txt";
  bool holderDoneAtEnd = false;
  recorder_.onReport = [&](const Recorded& r) {
    if (r.code == 5003) holderDoneAtEnd = Exists(marker);
  };
  Uninstall(InstallSampleProduct(), "spawn-holder 1500 " + WideToUtf8(marker) + "\nsleep 300\nexit 0\n");
  EXPECT_EQ(Finished(), (Reports{kLaunched, kExitedWithoutFinalLine}));
  EXPECT_TRUE(holderDoneAtEnd);
}

TEST_F(UninstallerTest, ClosedOutputIsPolledWithPauses) {
  const std::wstring recorded = InstallSampleProduct();
  testing_support::PauseCounter pauses;
  Uninstall(recorded, "close-output\nsleep 1000\n");
  EXPECT_EQ(Finished(), (Reports{kLaunched, kExitedWithoutFinalLine}));
  EXPECT_GE(pauses.count(), 3);
}

TEST_F(UninstallerTest, MissingOrUnstartableUninstaller) {
  {
    CUnInstaller empty(recorder_.Callback(), L"", L"C:\\x");
    empty.Start();
  }
  Uninstall(folder_ / L"missing\\uninst.ep");
  EXPECT_EQ(Finished(), (Reports{{5004, 1, L"可执行卸载文件不存在"}, {5004, 1, L"可执行卸载文件不存在"}}));

  recorder_.Clear();
  const std::wstring notAProgram = folder_ / L"uninst.ep";
  std::ofstream(notAProgram.c_str()) << "not a program";
  Uninstall(notAProgram);
  // Not signed by the publisher: refused before any launch.
  EXPECT_EQ(Finished(), (Reports{{5004, 4, L"卸载程序签名校验失败: unsigned (0x800B0003)"}}));
}

TEST_F(UninstallerTest, NoPrivateTempFolderMeansNoCopy) {
  // A file where the temporary folder should be: the private folder cannot be created.
  const std::wstring blocker = folder_ / L"not-a-folder";
  std::ofstream(blocker.c_str()) << "x";
  wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", blocker.c_str());
  SetEnvironmentVariableW(L"TEMP", blocker.c_str());
  const std::wstring copy = UninstallerCopyBase(false);
  const std::wstring recorded = folder_ / L"uninst.ep";
  std::ofstream(recorded.c_str()) << "x";
  Uninstall(recorded);
  SetEnvironmentVariableW(L"TMP", savedTmp);
  SetEnvironmentVariableW(L"TEMP", savedTemp);
  EXPECT_EQ(copy, L"");
  EXPECT_EQ(Finished(), (Reports{{5004, 1, L"可执行卸载文件不存在"}}));
}

// A copy that still runs (an earlier installer's, say) is neither deleted
// nor replaced: each run copies into a fresh folder, and folders of earlier
// copies go once those have ended.
TEST_F(UninstallerTest, EarlierCopyStillRunningIsLeftAlone) {
  const std::wstring recorded = InstallSampleProduct();
  const UninstallPreparation first = PrepareUninstallerCopy(recorded, false);
  ASSERT_TRUE(Exists(first.copyPath));
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  std::wstring line = L"\"" + first.copyPath + L"\" --hold 60000";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  Utils::ProcessHandles running(info);
  Uninstall(recorded);
  EXPECT_EQ(Finished(), (Reports{kLaunched, {5002, 0.3, L""}, {5002, 1, L""}, {5003, 0, L""}}));
  EXPECT_TRUE(Exists(first.copyPath)) << "the running copy was not touched";
  // This test started it: end it by its handle.
  TerminateProcess(running.process.get(), 0);
  WaitForSingleObject(running.process.get(), 10000);
  running = Utils::ProcessHandles();
  const UninstallPreparation third = PrepareUninstallerCopy(recorded, false);
  EXPECT_FALSE(Exists(first.copyPath)) << "an ended copy's folder is removed";
  EXPECT_NE(third.copyPath, first.copyPath);
}

// Elevated, the copy goes to a fresh folder under the system's temporary
// folder that users cannot write, so nothing can be planted beside it.
TEST_F(UninstallerTest, ElevatedCopyLiesInAFreshAdminOnlyFolder) {
  const std::wstring recorded = InstallSampleProduct();
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  std::wstring earlier;
  for (int run = 0; run < 2; ++run) {
    const UninstallPreparation prepared = PrepareUninstallerCopy(recorded, true);
    const UninstallPreparation* p = &prepared;  // an earlier run's folder is gone now
    ASSERT_TRUE(Exists(p->copyPath)) << WideToUtf8(p->copyPath);
    EXPECT_NE(p->copyPath, earlier) << "a fresh folder each time";
    earlier = p->copyPath;
    EXPECT_EQ(p->copyPath.rfind(std::wstring(windows) + L"\\Temp\\ovun-", 0), 0u) << WideToUtf8(p->copyPath);
  }
  // Wine keeps only Unix permission bits for a folder (it answers with a
  // descriptor made up from them), so what is checked here is the
  // descriptor the folder is created with.
  Utils::UniqueLocalMemory<void> owned;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyFolderSddl, SDDL_REVISION_1, owned.put(),
                                                                   nullptr));
  const PSECURITY_DESCRIPTOR descriptor = owned.get();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the parent";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  constexpr DWORD kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                             FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  int adminAces = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &ace->SidStart;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
      ++adminAces;
    else
      EXPECT_EQ(ace->Mask & kWriting, 0u) << "ACE " << i << " lets someone else write";
  }
  EXPECT_EQ(adminAces, 2);
}

TEST(UninstallerCommandLine, FlagsAndUnquotedFolderLast) {
  std::wstring user;
  const bool consoleAdmin = Utils::GetConsoleUserName(user) && Utils::IsUserAdmin(user);
  const std::wstring flags = std::wstring(L" /S -adminact=") + (consoleAdmin ? L"true" : L"false") +
                             L" -authorizationact=" + (Utils::IsAdmin() ? L"true" : L"false");
  Recorder recorder;
  CUnInstaller runner(recorder.Callback(), L"C:\\Temp Dir\\~PeLanTemp.92482B06FB471E17\\\\ONVelqor_un_asa.exe",
                      L"C:\\Program Files\\ONVelqor");
  EXPECT_EQ(runner.MakeCommandLine(), L"\"C:\\Temp Dir\\~PeLanTemp.92482B06FB471E17\\\\ONVelqor_un_asa.exe\"" + flags +
                                          L" -console=show _?=C:\\Program Files\\ONVelqor");
}

TEST(PreviousInstallFolder, IsTheFolderOfTheRecordedUninstaller) {
  EXPECT_EQ(PreviousInstallFolder(L"C:\\Program Files\\ONVelqor\\uninst.ep"), L"C:\\Program Files\\ONVelqor");
  EXPECT_EQ(PreviousInstallFolder(L"D:\\uninst.ep"), L"D:\\");
  EXPECT_EQ(PreviousInstallFolder(L""), L"");
  // Cut to 259 characters first.
  const std::wstring deep = L"C:\\" + std::wstring(250, L'a') + L"\\bbbbbbbbbbbb\\uninst.ep";
  EXPECT_EQ(PreviousInstallFolder(deep), L"C:\\" + std::wstring(250, L'a'));
}

}  // namespace
