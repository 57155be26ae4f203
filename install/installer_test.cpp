// CInstaller against the substitute package, a real child process.
#include "install/installer.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <memory>

#include "install/report_codes.h"
#include "install/runner_test_support.h"
#include "platform/child_process.h"
#include "platform/strings.h"
#include "tools/dbwin/dbwin_listener.h"

namespace {

using testing_support::Exists;
using testing_support::HexCommand;
using testing_support::Recorded;
using testing_support::Recorder;
using testing_support::ScopedScript;
using testing_support::ScratchFolder;
using Reports = std::vector<Recorded>;
using Utils::WideToUtf8;

const Recorded kStart{2001, 0, L""}, kLaunched{2002, 0, L""}, kExitedWithoutFinalLine{2003, 1, L""};

// A quick install into folder by an elevated process of a standard account.
InstallChoices Choices(const std::wstring& folder) {
  InstallChoices choices;
  choices.installFolder = folder;
  choices.processIsElevated = true;
  return choices;
}

class InstallerTest : public ::testing::Test {
 protected:
  std::unique_ptr<CInstaller> MakeRunner(PhaseCallback report, const std::wstring& package) {
    return std::make_unique<CInstaller>(std::move(report), L"\"" + package + L"\"", Choices(target_));
  }
  std::unique_ptr<CInstaller> MakeRunner() {
    return MakeRunner(recorder_.Callback(), testing_support::SubstituteExe());
  }
  // Runs the substitute with this script to its end and returns the reports.
  Reports RunScript(const std::string& script, Recorder& recorder) {
    ScopedScript scoped(L"OV_PACKAGE_SCRIPT", folder_ / L"script.txt", script);
    MakeRunner(recorder.Callback(), testing_support::SubstituteExe())->Start();  // destruction waits
    return recorder.Reports();
  }
  Reports RunScript(const std::string& script) { return RunScript(script, recorder_); }

  ScratchFolder folder_;
  const std::wstring target_ = folder_ / L"ONVelqor";
  Recorder recorder_;
};

// The package is started with the system-DLL policy; a system that does
// not know the policy (Windows 7 and 8) refuses it, and the package runs
// without it.
TEST_F(InstallerTest, WellBehavedPackageInstallsTheSampleProduct) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "policy refused" : "policy accepted");
    const bool previous = Utils::ChildProcess::SimulatePolicyRefusalForTesting(refused);
    Recorder recorder;
    DebugOutputListener log;
    ASSERT_TRUE(log.Start());
    auto runner = MakeRunner(recorder.Callback(), testing_support::SubstituteExe());
    runner->Start();
    runner->Wait();
    Utils::ChildProcess::SimulatePolicyRefusalForTesting(previous);
    EXPECT_EQ(recorder.Reports(), (Reports{kStart,
                                           kLaunched,
                                           {2002, 0.1, L""},
                                           {2002, 0.6, L""},
                                           {3000, 0, target_},
                                           {3001, 0, target_ + L"\\OndraVelqor.exe"},
                                           {3003, 0, target_ + L"\\uninst.ep"},
                                           {3005, 2, L""},
                                           {2002, 1, L""},
                                           {2003, 0, L""}}));
    EXPECT_TRUE(Exists(target_ + L"\\OndraVelqor.exe"));
    EXPECT_TRUE(Exists(target_ + L"\\uninst.ep"));
    EXPECT_EQ(runner->installedVersion(), (protocol::Version{1, 7, 9}));
    EXPECT_EQ(runner->codePage(), 65001);
    EXPECT_TRUE(log.WaitFor("ExePath: " + WideToUtf8(target_) + "\\OndraVelqor.exe\r\n", 5000, GetCurrentProcessId()));
    if (refused) {
      EXPECT_TRUE(log.WaitFor("package started without the system-DLL policy\r\n", 5000, GetCurrentProcessId()));
    }
  }
}

TEST_F(InstallerTest, SecondStartWaitsForTheFirstRun) {
  ScopedScript scoped(L"OV_PACKAGE_SCRIPT", folder_ / L"script.txt", "sleep 700\n");
  auto runner = MakeRunner();
  runner->Start();
  runner->Start();
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, kExitedWithoutFinalLine}));
  runner.reset();
  EXPECT_EQ(recorder_.Reports(),
            (Reports{kStart, kLaunched, kExitedWithoutFinalLine, kStart, kLaunched, kExitedWithoutFinalLine}));
}

TEST_F(InstallerTest, CommandLineSegments) {
  struct Case {
    const wchar_t* folder;
    bool quick, desktop, admin, elevated;
    const wchar_t* language;
    const wchar_t* extra;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Apps\\ONVelqor", true, true, true, true, L"zh-CN", L"",
       L"\"C:\\p.exe\" /S -console=show -version=1.0.0 -adminact=true -authorizationact=true -dsc=true -ssc=true "
       L"-inslang=\"zh-CN\" -instdir=\"C:\\Apps\\ONVelqor\" /D=C:\\Apps\\ONVelqor"},
      {L"", false, true, false, true, L"", L"",
       L"\"C:\\p.exe\" /S -console=show -version=1.0.0 -adminact=false -authorizationact=true -dsc=true -ssc=false"},
      {L"D:\\My Apps\\ONVelqor", true, false, false, false, L"", L"-channel=7 -x \"a b\"",
       L"\"C:\\p.exe\" /S -console=show -version=1.0.0 -adminact=false -authorizationact=false -dsc=false -ssc=true "
       L"-channel=7 -x \"a b\" -instdir=\"D:\\My Apps\\ONVelqor\" /D=D:\\My Apps\\ONVelqor"},
      // A trailing backslash would escape the closing quote.
      {L"D:\\", false, false, false, false, L"", L"",
       L"\"C:\\p.exe\" /S -console=show -version=1.0.0 -adminact=false -authorizationact=false -dsc=false -ssc=false "
       L"-instdir=\"D:\\\\\" /D=D:\\"},
  };
  for (const Case& c : cases) {
    InstallChoices choices;
    choices.installFolder = c.folder;
    choices.quickLaunch = c.quick;
    choices.desktopShortcut = c.desktop;
    choices.consoleUserIsAdmin = c.admin;
    choices.processIsElevated = c.elevated;
    choices.languageTag = c.language;
    CInstaller runner(recorder_.Callback(), L"\"C:\\p.exe\"", choices, c.extra);
    EXPECT_EQ(runner.MakeCommandLine(), c.expected);
    // As the package splits it: "-instdir=" carries the folder exactly.
    if (*c.folder) {
      int count = 0;
      const Utils::UniqueLocalMemory<LPWSTR> arguments(CommandLineToArgvW(runner.MakeCommandLine().c_str(), &count));
      ASSERT_TRUE(arguments);
      std::wstring instdir;
      for (int i = 0; i < count; ++i)
        if (std::wstring_view(arguments.get()[i]).starts_with(L"-instdir=")) instdir = arguments.get()[i] + 9;
      EXPECT_EQ(instdir, c.folder);
    }
  }
}

TEST_F(InstallerTest, PackageReceivesExactlyTheComposedCommandLine) {
  ScopedScript scoped(L"OV_PACKAGE_SCRIPT", folder_ / L"script.txt", "say Encode=UTF8\nsleep 200\ncmdline\n");
  auto runner = MakeRunner();
  runner->choices.languageTag = L"ja-JP";
  runner->Start();
  runner->Wait();
  EXPECT_EQ(recorder_.Reports(),
            (Reports{kStart, kLaunched, {3009, 0, runner->commandLine()}, kExitedWithoutFinalLine}));
}

TEST_F(InstallerTest, EndingsOfARun) {
  enum Check { kExactly, kLastOnly };
  struct Case {
    const char* name;
    std::string script;
    Reports tail;  // after (2001, 0) and (2002, 0)
    Check check = kExactly;
  } cases[] = {
      // Without a final line the exit code decides: only 0 is an installation.
      {"silent exit with code 0", "exit 0\n", {kExitedWithoutFinalLine}},
      {"silent exit with code 5", "exit 5\n", {{2004, 1, L"安装包异常退出，退出码=5"}}},
      {"progress then early exit",
       "say Progress=0.5\nexit 1\n",
       {{2002, 0.5, L""}, {2004, 1, L"安装包异常退出，退出码=1"}}},
      {"error line", "say Error=x\nsay Progress=0.9\n", {{2004, 1000, L"x"}}},
      {"state fail", "say State=Fail\n", {{2004, 0, L"安装包安装失败"}}},
      {"same write still read, later write not",
       HexCommand("State=Success\nMessage=same write\n") + "sleep 300\nsay Message=later write\n",
       {{2003, 0, L""}, {3009, 0, L"same write"}}},
      // Lines written in a burst right before the exit are all read, however
      // many reads they take: a late "Error=" must not become a success.
      {"final line behind a burst",
       "lines 300 Progress=0.25\nsay Error=late failure\nexit 0\n",
       {{2004, 1000, L"late failure"}},
       kLastOnly},
      {"GBK after Encode=936",
       "say Encode=936\nsleep 200\nencoding 936\nsay Message=安装完成\n",
       {{3009, 0, L"安装完成"}, kExitedWithoutFinalLine}},
      {"UTF-8 after Encode=UTF8",
       "say Encode=UTF8\nsleep 200\nsay InstPath=C:\\程序\\ONVelqor\n",
       {{3000, 0, L"C:\\程序\\ONVelqor"}, kExitedWithoutFinalLine}},
      {"invalid UTF-8",
       "say Encode=UTF8\nsleep 200\n" + HexCommand("Message=\xff\xfe"
                                                   "A\n"),
       {{3009, 0,
         L"\xfffd\xfffd"
         L"A"},
        kExitedWithoutFinalLine}},
      {"endless line, then a final line", "fill 3000000 A\nsleep 300\nsay\nsay State=Success\n", {{2003, 0, L""}}},
      {"binary garbage", "garbage 300000 7\nexit 0\n", {kExitedWithoutFinalLine}, kLastOnly},
      // A line cut by reads (or written in pieces) is parsed whole.
      {"line in pieces",
       "part Progr\nsleep 200\npart ess=0.7\nsleep 200\nsay 5\n",
       {{2002, 0.75, L""}, kExitedWithoutFinalLine}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    const Reports reports = RunScript(c.script, recorder);
    ASSERT_GE(reports.size(), 2u + c.tail.size());
    EXPECT_EQ(reports[0], kStart);
    EXPECT_EQ(reports[1], kLaunched);
    if (c.check == kLastOnly)
      EXPECT_EQ(reports.back(), c.tail.back());
    else
      EXPECT_EQ(Reports(reports.begin() + 2, reports.end()), c.tail);
  }
}

TEST_F(InstallerTest, LaunchFailures) {
  DebugOutputListener log;
  ASSERT_TRUE(log.Start());
  auto missing = MakeRunner(recorder_.Callback(), folder_ / L"no such package.exe");
  missing->Start();
  missing->Wait();
  auto tooLong = MakeRunner();
  tooLong->choices.installFolder = std::wstring(600, L'x');  // appears twice: over 1023 characters
  tooLong->Start();
  tooLong->Wait();
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, {2004, 2, L""}, kStart, kLaunched, {2004, 2, L""}}));
  // The report stays bare; the log names the cause.
  const DWORD self = GetCurrentProcessId();
  EXPECT_TRUE(log.WaitFor("launch failed:CreateProcessW error 2\r\n", 5000, self));
  EXPECT_TRUE(log.WaitFor("launch failed:command line error 206\r\n", 5000, self));
}

TEST_F(InstallerTest, SettledPackageIsReportedAtOnceAndWaitedFor) {
  const std::wstring late = folder_ / L"late.txt";
  bool lateAtSettling = true;
  recorder_.onReport = [&](const Recorded& r) {
    if (r.code == 2003) lateAtSettling = Exists(late);
  };
  RunScript("say State=Success\nsleep 1500\nsay Progress=0.9\ntouch " + WideToUtf8(late) + "\n");
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, {2003, 0, L""}}));
  EXPECT_FALSE(lateAtSettling) << "2003 came only after the package had ended";
  EXPECT_TRUE(Exists(late)) << "the run ended before the package";
}

TEST_F(InstallerTest, DescendantHoldingTheOutputKeepsTheRunOpen) {
  const std::wstring marker = folder_ / L"holder-done.txt";
  bool holderDoneAtEnd = false;
  recorder_.onReport = [&](const Recorded& r) {
    if (r.code == 2003) holderDoneAtEnd = Exists(marker);
  };
  RunScript("spawn-holder 1500 " + WideToUtf8(marker) + "\nexit 0\n");
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, kExitedWithoutFinalLine}));
  EXPECT_TRUE(holderDoneAtEnd);
}

// A package that closed its output but runs on makes every read fail at
// once; the runner polls with pauses instead of spinning, and ends after it.
TEST_F(InstallerTest, ClosedOutputIsPolledWithPauses) {
  testing_support::PauseCounter pauses;
  RunScript("say Progress=0.5\nclose-output\nsleep 1000\n");
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, {2002, 0.5, L""}, kExitedWithoutFinalLine}));
  EXPECT_GE(pauses.count(), 3);
}

TEST_F(InstallerTest, MillionProgressLines) {
  // Counted, not stored. 13 MB in writes of whole lines; reads of 1024 bytes
  // cut some lines, whose pieces read as a shorter number or as nothing.
  size_t progress = 0, otherNumbers = 0;
  Reports others;
  auto count = [&](int32_t code, double number, const wchar_t* text) {
    if (code != 2002) {
      others.push_back({code, number, text});
      return;
    }
    ++progress;
    if (number != 0.5 && number != 0) ++otherNumbers;
  };
  ScopedScript scoped(L"OV_PACKAGE_SCRIPT", folder_ / L"script.txt",
                      "lines 1000000 Progress=0.5\nsleep 300\nsay State=Success\n");
  MakeRunner(count, testing_support::SubstituteExe())->Start();
  EXPECT_GT(progress, 980000u);
  EXPECT_LE(progress, 1000001u);
  EXPECT_EQ(otherNumbers, 0u);
  EXPECT_EQ(others, (Reports{kStart, {2003, 0, L""}}));
}

TEST_F(InstallerTest, PackageThatNeverEndsIsWaitedForUntilItIsGone) {
  const std::wstring pidFile = folder_ / L"pid.txt";
  ScopedScript scoped(L"OV_PACKAGE_SCRIPT", folder_ / L"script.txt", "pidfile " + WideToUtf8(pidFile) + "\nhang\n");
  auto runner = MakeRunner();
  runner->Start();
  DWORD pid = 0;
  for (int i = 0; i < 200 && !pid; ++i) {
    Sleep(50);
    if (const Utils::UniqueStdioFile f{_wfopen(pidFile.c_str(), L"r")}) {
      if (std::fscanf(f.get(), "%lu", &pid) != 1) pid = 0;
    }
  }
  ASSERT_NE(pid, 0u);
  Sleep(500);
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched}));
  // This test started the package: end it by its id.
  const Utils::UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  ASSERT_TRUE(process);
  TerminateProcess(process.get(), 9);
  runner->Wait();
  EXPECT_EQ(recorder_.Reports(), (Reports{kStart, kLaunched, {2004, 1, L"安装包异常退出，退出码=9"}}));
}

}  // namespace
