// The system downloader (URLDownloadToFileW) against nginx and the fault
// server: success, three attempts a second apart, and the URL escaping.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "download/win_downloader.h"
#include "tests/download/harness.h"

using namespace dltest;
using ::testing::ElementsAre;

namespace {

TEST(System, DownloadsFromNginxWithProgress) {
  ScratchDir dir;
  const std::string bytes = RandomBytes(3 << 20, 3);
  WriteFile(NginxRoot() / "sys" / "pkg.exe", bytes);
  Recorder recorder;
  CWinDownloader downloader(recorder.Callback(), Wide(NginxBase() + "/sys/pkg.exe"), (dir / L"pkg.exe").wstring());
  downloader.Start();
  ASSERT_TRUE(recorder.WaitFinal(60000));
  EXPECT_THAT(recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  EXPECT_EQ(recorder.Events().back().text, L"URLDownloadToFile");
  int progress = 0;
  for (const Event& e : recorder.Events())
    if (e.code == DL_CODE_PROGRESS) {
      ++progress;
      EXPECT_GT(e.number, 0.0);
      EXPECT_LE(e.number, 1.0);
    }
  EXPECT_GT(progress, 0);
  EXPECT_EQ(ReadFile(dir / L"pkg.exe"), bytes);
}

TEST(System, ThreeAttemptsOneSecondApartThenFail) {
  FastTiming timing;
  ScratchDir dir;
  Recorder recorder;
  // Nothing listens on port 1. (Wine's service, unlike Windows', reports a
  // 404 as S_OK, so a refused connection is the failure used here.)
  CWinDownloader downloader(recorder.Callback(), L"http://127.0.0.1:1/pkg.exe", (dir / L"pkg.exe").wstring());
  downloader.Start();
  ASSERT_TRUE(recorder.WaitFinal(60000));
  EXPECT_THAT(recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_FAIL));
  EXPECT_LT(recorder.Events().back().number, 0.0) << "a failing HRESULT";
  EXPECT_EQ(recorder.Events().back().text, L"URLDownloadToFile");
  EXPECT_EQ(FastTiming::Pauses(), std::vector<DWORD>(3, 1000));
}

TEST(System, UrlIsEscapedBytewise) {
  AddScenario(R"({"name": "esc", "size": 1000})");
  struct Case {
    std::wstring name;
    std::string requested;
  } cases[] = {
      {L"my file.bin", "/s/esc/my+file.bin"},
      {L"\u4e2d\u6587.bin", "/s/esc/%E4%B8%AD%E6%96%87.bin"},
      {L"a%20b.bin", "/s/esc/a%20b.bin"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    Recorder recorder;
    CWinDownloader downloader(recorder.Callback(), Wide(FaultBase() + "/s/esc/") + c.name,
                              (dir / L"pkg.bin").wstring());
    downloader.Start();
    ASSERT_TRUE(recorder.WaitFinal(60000));
    EXPECT_EQ(recorder.Codes().back(), DL_CODE_SUCCESS);
    EXPECT_EQ(Requests("esc").back().path, c.requested);
  }
}

// A server that stops sending. One that sends 1000 bytes and then nothing:
// each attempt ends at the stall limit (2 s here, 60 s in the product) and
// the third failure is reported. One that accepts and never answers: the
// first attempt ends at the silent series' bound and no other follows, so
// the network tip comes within that bound, not after three stall limits.
TEST(System, AServerThatStopsSendingEndsTheAttempts) {
  const struct {
    const char* name;
    const char* scenario;
    DWORD silentSeriesMs;
    int gets;
    std::vector<DWORD> pauses;
  } cases[] = {
      {"sysstall", R"({"name": "sysstall", "size": 200000, "get": [{"stall": 1000}]})", 60000, 3, {1000, 1000, 1000}},
      {"syssilent", R"({"name": "syssilent", "size": 200000, "get": [{"silent": true}]})", 900, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FastTiming timing(/*singleStreamStall=*/2, 2, /*firstAnswerMs=*/300, c.silentSeriesMs);
    AddScenario(c.scenario);
    ScratchDir dir;
    Recorder recorder;
    CWinDownloader downloader(recorder.Callback(), Wide(FaultBase() + "/s/" + c.name + "/pkg.exe"),
                              (dir / L"pkg.exe").wstring());
    downloader.Start();
    ASSERT_TRUE(recorder.WaitFinal(120000));
    EXPECT_THAT(recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_FAIL));
    EXPECT_EQ(recorder.Events().back().number, static_cast<double>(E_ABORT));
    EXPECT_EQ(FastTiming::Pauses(), c.pauses);
    EXPECT_EQ(CountRequests(Requests(c.name), "GET"), c.gets);
    EXPECT_TRUE(dir.Files().empty()) << "a stalled attempt leaves no file";
  }
}

// Closing the window destroys the downloader: a stalled transfer is
// aborted, and nothing is reported afterwards.
TEST(System, DestructionAbortsAStalledTransfer) {
  AddScenario(R"({"name": "sysstall2", "size": 200000, "get": [{"stall": 1000}]})");
  ScratchDir dir;
  Recorder recorder;
  {
    CWinDownloader downloader(recorder.Callback(), Wide(FaultBase() + "/s/sysstall2/pkg.exe"),
                              (dir / L"pkg.exe").wstring());
    downloader.Start();
    for (int i = 0; i < 1000 && CountRequests(Requests("sysstall2"), "GET") == 0; ++i) Sleep(10);
    ASSERT_EQ(CountRequests(Requests("sysstall2"), "GET"), 1);
    Sleep(300);  // into the stall
  }
  EXPECT_THAT(recorder.Codes(), ElementsAre(DL_CODE_START));
  EXPECT_EQ(CountRequests(Requests("sysstall2"), "GET"), 1) << "no further attempt";
  EXPECT_TRUE(dir.Files().empty());
}

TEST(System, NeverStartedDoesNothing) {
  Recorder recorder;
  { CWinDownloader never(recorder.Callback(), L"http://127.0.0.1:1/x", L"never"); }
  EXPECT_TRUE(recorder.Events().empty());
}

}  // namespace
