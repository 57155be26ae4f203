// The segmented downloader against nginx and the fault server: plans and
// ranges, resume inside a part, the retry of the whole download, servers
// that ignore ranges or stall, 64-bit lengths and destruction mid-way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "download/curl_common.h"
#include "download/mt_curl_downloader.h"
#include "download/verify.h"
#include "tests/download/harness.h"
#include "tools/dbwin/dbwin_listener.h"

using namespace dltest;
using ::testing::ElementsAre;

namespace {

std::vector<std::string> GetRanges(const std::string& name) {
  std::vector<std::string> ranges;
  for (const auto& r : Requests(name))
    if (r.method == "GET") ranges.push_back(r.range);
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

TEST(Segmented, NginxRedirectChainFifteenMiBInOnePart) {
  ScratchDir dir;
  const std::string bytes = RandomBytes(15 << 20, 2);
  WriteFile(NginxRoot() / "mt" / "pkg.exe", bytes);
  const std::string md5 = download::FileMd5((NginxRoot() / "mt" / "pkg.exe").wstring());
  std::filesystem::rename(NginxRoot() / "mt", NginxRoot() / md5);
  Download<CMTCurlDownloader> run(NginxBase() + "/redir/" + md5 + "/pkg.exe", dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  const auto codes = run.recorder.Codes();  // a copy: one vector for both iterators
  EXPECT_EQ(codes.front(), DL_CODE_START);
  EXPECT_EQ(codes.back(), DL_CODE_SUCCESS);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), DL_CODE_NOTICE), 0);
  EXPECT_EQ(run.downloader->realUrl(), NginxBase() + "/" + md5 + "/pkg.exe");
  EXPECT_EQ(ReadFile(dir / L"pkg.exe"), bytes);
  EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe"));
  EXPECT_FALSE(run.recorder.overlapped());

  // The same download where libcurl could not be initialised: nothing is asked.
  ScratchDir other;
  Download<CMTCurlDownloader> refused(NginxBase() + "/" + md5 + "/pkg.exe", other / L"pkg.exe", false);
  ASSERT_TRUE(refused.Finish());
  EXPECT_THAT(refused.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_FAIL));
  EXPECT_EQ(refused.recorder.Events().back().text, L"LibCurl");
  EXPECT_TRUE(other.Files().empty());
}

TEST(Segmented, PlansRangesAndJoins) {
  struct Case {
    const char* name;
    int64_t size;
    std::vector<std::string> ranges;
    bool withMd5;
  } cases[] = {
      {"mt15", 15 << 20, {"bytes=0-15728639"}, true},
      {"mt30", 30 << 20, {"bytes=0-15728639", "bytes=15728640-31457279"}, true},
      {"mt20p1", (20 << 20) + 1, {"bytes=0-10485759", "bytes=10485760-20971520"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string md5 =
        AddScenario(std::string(R"({"name": ")") + c.name + R"(", "size": )" + std::to_string(c.size) + "}");
    ScratchDir dir;
    Download<CMTCurlDownloader> run(PackageUrl(c.name, c.withMd5 ? md5 : ""), dir / L"pkg.exe");
    ASSERT_TRUE(run.Finish());
    const auto codes = run.recorder.Codes();
    if (c.withMd5) {
      EXPECT_THAT(codes, ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
    } else {
      EXPECT_THAT(codes, ElementsAre(DL_CODE_START, DL_CODE_NOTICE, DL_CODE_SUCCESS));
      EXPECT_EQ(run.recorder.Events().rbegin()[1].text, L"mtcurl获取url-md5失败");
    }
    EXPECT_EQ(GetRanges(c.name), c.ranges);
    EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
    EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe"));
  }
}

TEST(Segmented, BrokenPartResumesFromItsCurrentStart) {
  FastTiming timing;
  // The first request (part 0, started first) breaks after 1000 bytes.
  const std::string md5 = AddScenario(R"({"name": "cut", "size": 31457280, "get": [{"cut": 1000}, {}]})");
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("cut", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.recorder.Codes().back(), DL_CODE_SUCCESS);
  EXPECT_THAT(GetRanges("cut"), ElementsAre("bytes=0-15728639", "bytes=1000-15728639", "bytes=15728640-31457279"));
  EXPECT_EQ(FastTiming::Pauses(), std::vector<DWORD>{400});
  EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
}

TEST(Segmented, FailedPartBeforeProgressDeletesPartsRetriesOnceThenFails) {
  FastTiming timing;
  const std::string md5 = AddScenario(R"({"name": "e500", "size": 2097152, "get": [{"status": 500}]})");
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("e500", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_RETRY, DL_CODE_START, DL_CODE_FAIL));
  const auto events = run.recorder.Reports();
  EXPECT_EQ(events[1].number, 22.0);
  EXPECT_EQ(events.back().number, 22.0);
  EXPECT_EQ(events.back().text, L"LibCurl");
  const auto log = Requests("e500");
  EXPECT_EQ(CountRequests(log, "HEAD"), 1);
  EXPECT_EQ(CountRequests(log, "GET"), 14) << "seven attempts per part and attempt";
  EXPECT_EQ(FastTiming::Pauses(), std::vector<DWORD>(12, 400));
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Segmented, UpperCaseUrlMd5NeverMatches) {
  FastTiming timing;
  std::string md5 = AddScenario(R"({"name": "mtupper", "size": 2097152})");
  std::transform(md5.begin(), md5.end(), md5.begin(), ::toupper);
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("mtupper", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(),
              ElementsAre(DL_CODE_START, DL_CODE_NOTICE, DL_CODE_RETRY, DL_CODE_START, DL_CODE_NOTICE, DL_CODE_FAIL));
  EXPECT_EQ(run.recorder.Reports()[1].text, L"mtcurl文件md5校验失败");
  const auto log = Requests("mtupper");
  EXPECT_EQ(CountRequests(log, "HEAD"), 1);
  EXPECT_THAT(GetRanges("mtupper"), ElementsAre("bytes=0-2097151", "bytes=0-2097151")) << "the retry starts over";
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_FALSE(run.recorder.overlapped());
}

// A target the joined file cannot replace (a folder of that name) fails the
// download as before; the log keeps why the system refused the move.
TEST(Segmented, JoinThatCannotReachTheTargetLogsTheSystemError) {
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  FastTiming timing;
  const std::string md5 = AddScenario(R"({"name": "mtblocked", "size": 2097152})");
  ScratchDir dir;
  std::filesystem::create_directory(dir / L"pkg.exe");
  Download<CMTCurlDownloader> run(PackageUrl("mtblocked", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_RETRY, DL_CODE_START, DL_CODE_FAIL));
  EXPECT_EQ(run.recorder.Events().back().number, static_cast<double>(CURLE_WRITE_ERROR));
  const std::string line = "join failed:" + std::to_string(ERROR_ACCESS_DENIED) + ":";
  EXPECT_TRUE(listener.WaitFor(line, 5000, GetCurrentProcessId()));
  EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe")) << "the part files are gone";
}

// The second part would otherwise receive the file's head: the worst case is a URL
// without url-md5, where nothing else would notice.
TEST(Segmented, ServerIgnoringRangesNeverGivesACorruptSuccess) {
  FastTiming timing;
  AddScenario(R"({"name": "ignore", "size": 31457280, "get": [{"ignore_range": true}]})");
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("ignore", ""), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.recorder.Codes().back(), DL_CODE_FAIL);
  EXPECT_FALSE(std::filesystem::exists(dir / L"pkg.exe"));
}

TEST(Segmented, StalledPartIsRetriedWithinItsBudget) {
  FastTiming timing(2, /*partStall=*/1);
  const std::string md5 = AddScenario(R"({"name": "mtstall", "size": 2097152, "get": [{"stall": 1000}, {}]})");
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("mtstall", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.recorder.Codes().back(), DL_CODE_SUCCESS);
  EXPECT_THAT(GetRanges("mtstall"), ElementsAre("bytes=0-2097151", "bytes=1000-2097151"));
}

TEST(Segmented, DestroyedWhilePartsRunStopsPromptlyAndLeavesNoFiles) {
  FastTiming timing(600, 600);
  const std::string md5 = AddScenario(R"({"name": "mtdestroy", "size": 31457280, "get": [{"stall": 1600000}]})");
  ScratchDir dir;
  auto run = std::make_unique<Download<CMTCurlDownloader>>(PackageUrl("mtdestroy", md5), dir / L"pkg.exe");
  for (int i = 0; i < 200 && (download::FileSize((dir / L"pkg.exe_0").wstring()) <= 0 ||
                              download::FileSize((dir / L"pkg.exe_1").wstring()) <= 0);
       ++i)
    Sleep(50);
  ASSERT_GT(download::FileSize((dir / L"pkg.exe_1").wstring()), 0);
  const size_t before = run->recorder.Events().size();
  const DWORD start = GetTickCount();
  run->downloader.reset();
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(run->recorder.Events().size(), before);
  EXPECT_TRUE(dir.Files().empty());
}

// A server that refuses HEAD is measured with a GET for byte 0: nginx's 405
// still gets two parts; a server without ranges gets one stream, from zero
// again after a break.
TEST(Segmented, HeadRefusedLengthFromARangedGet) {
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  FastTiming timing;
  {
    ScratchDir dir;
    const std::string bytes = RandomBytes(30 << 20, 6);
    WriteFile(NginxRoot() / "mtnohead" / "pkg.exe", bytes);
    const std::string md5 = download::FileMd5((NginxRoot() / "mtnohead" / "pkg.exe").wstring());
    std::filesystem::rename(NginxRoot() / "mtnohead", NginxRoot() / md5);
    Download<CMTCurlDownloader> run(NginxBase() + "/nohead/" + md5 + "/pkg.exe", dir / L"pkg.exe");
    ASSERT_TRUE(run.Finish());
    EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
    EXPECT_TRUE(run.downloader->ranges());
    EXPECT_TRUE(listener.WaitFor("length 31457280 from ranged GET 206", 5000, GetCurrentProcessId()));
    EXPECT_TRUE(listener.WaitFor("partPath::", 5000, GetCurrentProcessId())) << "the second part was joined";
    EXPECT_EQ(ReadFile(dir / L"pkg.exe"), bytes);
  }
  const std::string md5 = AddScenario(
      R"({"name": "mtnoranges", "size": 31457280, "head": [{"status": 403}], "get": [{"ignore_range": true},
          {"ignore_range": true, "cut": 5000}, {"ignore_range": true}]})");
  ScratchDir dir;
  Download<CMTCurlDownloader> run(PackageUrl("mtnoranges", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  EXPECT_FALSE(run.downloader->ranges());
  EXPECT_THAT(GetRanges("mtnoranges"), ElementsAre("bytes=0-0", "bytes=0-31457279", "bytes=0-31457279"));
  EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
  EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe"));
}

TEST(Segmented, LengthsBeyondTwoGiBResolveIn64Bits) {
  AddScenario(R"({"name": "mthuge", "size": 5368709120, "virtual": true})");
  Recorder recorder;
  ScratchDir dir;
  CMTCurlDownloader downloader(recorder.Callback(), L"", (dir / L"x").wstring());
  ASSERT_TRUE(downloader.getRealDownloadUrl(FaultBase() + "/s/mthuge/0123456789abcdef0123456789abcdef/p.exe"));
  EXPECT_EQ(downloader.length(), 5368709120LL);
  EXPECT_EQ(downloader.urlMd5(), "0123456789abcdef0123456789abcdef");
}

}  // namespace
