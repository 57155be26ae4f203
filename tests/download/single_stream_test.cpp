// The default downloader against nginx and the fault server: resolution,
// floor, resume, budgets, stalls, encodings, the url-md5 check and
// destruction while it runs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "download/curl_client.h"
#include "download/curl_common.h"
#include "download/curl_downloader.h"
#include "download/verify.h"
#include "platform/handles.h"
#include "tests/download/harness.h"
#include "tools/dbwin/dbwin_listener.h"

using namespace dltest;
using ::testing::ElementsAre;

namespace {

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(SingleStream, NginxRedirectChainToUrlMd5PathArrivesVerified) {
  ScratchDir dir;
  const std::string bytes = RandomBytes(3 << 20, 1);
  WriteFile(NginxRoot() / "aa" / "pkg.exe", bytes);
  const std::string md5 = download::FileMd5((NginxRoot() / "aa" / "pkg.exe").wstring());
  std::filesystem::rename(NginxRoot() / "aa", NginxRoot() / md5);
  Download<CCurlDownloader> run(NginxBase() + "/redir/" + md5 + "/pkg.exe", dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  EXPECT_EQ(run.recorder.Events().back().text, L"LibCurl");
  EXPECT_EQ(ReadFile(dir / L"pkg.exe"), bytes);
  EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe"));
  EXPECT_FALSE(run.recorder.overlapped());
}

// The 1 MiB floor, decided by HEAD before any GET; a HEAD without a length
// is asked again with a GET for byte 0.
TEST(SingleStream, LengthFloorAndUnknownLength) {
  FastTiming timing;
  struct Case {
    const char* name;
    const char* scenario;
    bool withMd5;
    std::vector<int32_t> codes;
    double failValue;
  } cases[] = {
      {"exact", R"("size": 1048576)", true, {DL_CODE_START, DL_CODE_SUCCESS}, 0},
      {"nomd5", R"("size": 1048576)", false, {DL_CODE_START, DL_CODE_NOTICE, DL_CODE_SUCCESS}, 0},
      {"short", R"("size": 1048575)", true, {DL_CODE_START, DL_CODE_FAIL}, -998},
      {"nolength", R"("size": 2097152, "head": [{"no_length": true}])", true, {DL_CODE_START, DL_CODE_SUCCESS}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string md5 = AddScenario(std::string(R"({"name": "floor-)") + c.name + R"(", )" + c.scenario + "}");
    const std::string url = PackageUrl(std::string("floor-") + c.name, c.withMd5 ? md5 : "");
    Download<CCurlDownloader> run(url, dir / L"pkg.exe");
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.recorder.Codes(), c.codes);
    const auto log = Requests(std::string("floor-") + c.name);
    if (c.failValue != 0) {
      EXPECT_EQ(run.recorder.Events().back().number, c.failValue);
      EXPECT_EQ(CountRequests(log, "GET"), 0);
      EXPECT_TRUE(dir.Files().empty());
    } else {
      EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
      if (!c.withMd5) {
        // The notice follows the start (the codes above).
        const auto reports = run.recorder.Reports();
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports[1].text, L"curl获取url-md5失败");
      }
    }
  }
}

// Servers and storage URLs signed for GET only refuse HEAD: the length comes
// from a GET for byte 0, never from the refusal's page. Where ranges work a
// broken transfer resumes; where they do not, every attempt starts from zero.
TEST(SingleStream, HeadRefusedLengthFromARangedGet) {
  FastTiming timing;
  ScratchDir nginxDir;
  const std::string bytes = RandomBytes(3 << 20, 5);
  WriteFile(NginxRoot() / "nohead.exe", bytes);
  Download<CCurlDownloader> nginx(NginxBase() + "/nohead/nohead.exe", nginxDir / L"pkg.exe");
  ASSERT_TRUE(nginx.Finish());
  EXPECT_THAT(nginx.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_NOTICE, DL_CODE_SUCCESS));
  EXPECT_EQ(ReadFile(nginxDir / L"pkg.exe"), bytes);

  struct Case {
    const char* name;
    const char* steps;
    std::vector<std::string> ranges;  // of the GETs
  } cases[] = {
      {"head405", R"("head": [{"status": 405}], "get": [{}, {"cut": 5000}, {}])", {"bytes=0-0", "", "bytes=5000-"}},
      {"head403-noranges",
       R"("head": [{"status": 403}], "get": [{"ignore_range": true}, {"ignore_range": true, "cut": 5000},
          {"ignore_range": true}])",
       {"bytes=0-0", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> reasons;
    const std::string md5 =
        AddScenario(std::string(R"({"name": ")") + c.name + R"(", "size": 2097152, )" + c.steps + "}");
    ScratchDir dir;
    Download<CCurlDownloader> run(PackageUrl(c.name, md5), dir / L"pkg.exe",
                                  [&](const std::wstring& reason) { reasons.push_back(reason); });
    ASSERT_TRUE(run.Finish());
    EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
    std::vector<std::string> ranges;
    for (const auto& r : Requests(c.name))
      if (r.method == "GET") ranges.push_back(r.range);
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
    EXPECT_THAT(dir.Files(), ElementsAre(L"pkg.exe"));
    // Both HEAD passes still report the refusal.
    EXPECT_EQ(reasons.size(), 2u);
  }
}

TEST(SingleStream, MissingPackageReportsItsStatusAndFailsAfterSixAttempts) {
  FastTiming timing;
  std::mutex mutex;
  std::vector<std::wstring> reasons;
  ScratchDir dir;
  Download<CCurlDownloader> run(NginxBase() + "/0123456789abcdef0123456789abcdef/missing.exe", dir / L"pkg.exe",
                                [&](const std::wstring& reason) {
                                  std::lock_guard<std::mutex> lock(mutex);
                                  reasons.push_back(reason);
                                });
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_FAIL));
  EXPECT_EQ(run.recorder.Events().back().number, -998.0);
  EXPECT_EQ(FastTiming::Pauses(), std::vector<DWORD>(5, 500));
  // Both HEAD passes of each of the six attempts see the 404.
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(reasons.size(), 12u);
  EXPECT_EQ(reasons[0], L"1.获取文件大小的状态码为=404；");
}

// Twelve points: a broken stream costs one, anything else two.
TEST(SingleStream, RetryBudget) {
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  FastTiming timing;
  struct Case {
    const char* name;
    const char* failure;
    int failures;
    int32_t final;
    double value;
  } cases[] = {
      {"e22x5", R"({"status": 500})", 5, DL_CODE_SUCCESS, 0},
      {"e22x6", R"({"status": 500})", 6, DL_CODE_FAIL, 22},
      {"e18x11", R"({"cut": 100000})", 11, DL_CODE_SUCCESS, 0},
      {"e18x12", R"({"cut": 100000})", 12, DL_CODE_FAIL, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    listener.Clear();
    std::string steps;
    for (int i = 0; i < c.failures; ++i) steps += std::string(c.failure) + ", ";
    const std::string md5 =
        AddScenario(std::string(R"({"name": "budget-)") + c.name + R"(", "size": 2097152, "get": [)" + steps + "{}]}");
    ScratchDir dir;
    Download<CCurlDownloader> run(PackageUrl(std::string("budget-") + c.name, md5), dir / L"pkg.exe");
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(run.recorder.Codes().back(), c.final);
    EXPECT_EQ(run.recorder.Events().back().number, c.value);
    const auto log = Requests(std::string("budget-") + c.name);
    const int attempts = c.final == DL_CODE_SUCCESS ? c.failures + 1 : c.failures;
    EXPECT_EQ(CountRequests(log, "GET"), attempts);
    const std::string line = "CurlDownLoader Code=" + std::to_string(static_cast<int>(c.failure[2] == 's' ? 22 : 18));
    int lines = 0;
    Sleep(200);
    for (const auto& l : listener.Lines())
      if (l.pid == GetCurrentProcessId() && l.text.find(line) != std::string::npos) ++lines;
    EXPECT_EQ(lines, attempts - 1);
    if (c.final == DL_CODE_SUCCESS)
      EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
    else
      EXPECT_FALSE(std::filesystem::exists(dir / L"pkg.exe"));
  }
}

TEST(SingleStream, ResumeAsksFromTheSideFileSizeAndAppends) {
  FastTiming timing;
  const std::string md5 = AddScenario(R"({"name": "resume", "size": 2097152, "get": [{"cut": 5000}, {}]})");
  ScratchDir dir;
  Download<CCurlDownloader> run(PackageUrl("resume", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(run.recorder.Codes().back(), DL_CODE_SUCCESS);
  std::vector<std::string> ranges;
  for (const auto& r : Requests("resume"))
    if (r.method == "GET") ranges.push_back(r.range);
  EXPECT_THAT(ranges, ElementsAre("", "bytes=5000-"));
  EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
}

TEST(SingleStream, ServerIgnoringRangesOnResumeIsFetchedAgainFromZero) {
  FastTiming timing;
  const std::string md5 =
      AddScenario(R"({"name": "norange", "size": 2097152, "get": [{"cut": 5000}, {"ignore_range": true}]})");
  ScratchDir dir;
  Download<CCurlDownloader> run(PackageUrl("norange", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  std::vector<std::string> ranges;
  for (const auto& r : Requests("norange"))
    if (r.method == "GET") ranges.push_back(r.range);
  EXPECT_THAT(ranges, ElementsAre("", "bytes=5000-", ""));
  EXPECT_EQ(download::FileMd5((dir / L"pkg.exe").wstring()), md5);
}

TEST(SingleStream, StalledServerBecomesAFailedAttempt) {
  FastTiming timing(/*singleStreamStall=*/2);
  const std::string md5 = AddScenario(R"({"name": "stall", "size": 2097152, "get": [{"stall": 100000}, {}]})");
  ScratchDir dir;
  Download<CCurlDownloader> run(PackageUrl("stall", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  EXPECT_EQ(FastTiming::Pauses(), std::vector<DWORD>{500});
  EXPECT_EQ(Requests("stall").back().range, "bytes=100000-");
}

TEST(SingleStream, AsksForIdentitySoACompressingServerCannotCorruptThePackage) {
  const std::string md5 = AddScenario(R"({"name": "gzip", "size": 2097152, "get": [{"gzip": true}]})");
  ScratchDir dir;
  Download<CCurlDownloader> run(PackageUrl("gzip", md5), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(), ElementsAre(DL_CODE_START, DL_CODE_SUCCESS));
  EXPECT_EQ(Requests("gzip").back().acceptEncoding, "identity");
}

TEST(SingleStream, Md5MismatchRetriesOnceWithoutHeadThenFailsAndKeepsNoFile) {
  FastTiming timing;
  const std::string md5 = AddScenario(R"({"name": "upper", "size": 1048576})");
  ScratchDir dir;
  Download<CCurlDownloader> run(PackageUrl("upper", Upper(md5)), dir / L"pkg.exe");
  ASSERT_TRUE(run.Finish());
  EXPECT_THAT(run.recorder.Codes(),
              ElementsAre(DL_CODE_START, DL_CODE_NOTICE, DL_CODE_RETRY, DL_CODE_START, DL_CODE_NOTICE, DL_CODE_FAIL));
  const auto events = run.recorder.Reports();
  EXPECT_EQ(events[1].text, L"curl文件md5校验失败");
  EXPECT_EQ(events.back().number, 0.0);
  EXPECT_EQ(events.back().text, L"LibCurl");
  const auto log = Requests("upper");
  EXPECT_EQ(CountRequests(log, "HEAD"), 1) << "the retry reuses the real URL and length";
  EXPECT_EQ(CountRequests(log, "GET"), 2);
  EXPECT_EQ(log.back().range, "") << "the retry downloads from zero";
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_FALSE(run.recorder.overlapped());
}

TEST(SingleStream, DestroyedWhileTransferringStopsPromptlyAndLeavesNoFiles) {
  FastTiming timing(/*singleStreamStall=*/600);
  const std::string md5 = AddScenario(R"({"name": "destroy", "size": 4194304, "get": [{"stall": 1600000}]})");
  ScratchDir dir;
  auto run = std::make_unique<Download<CCurlDownloader>>(PackageUrl("destroy", md5), dir / L"pkg.exe");
  // The side file is written through a buffer: some of the bytes show.
  for (int i = 0; i < 200 && download::FileSize((dir / L"pkg.exe.part").wstring()) <= 0; ++i) Sleep(50);
  ASSERT_GT(download::FileSize((dir / L"pkg.exe.part").wstring()), 0);
  const size_t before = run->recorder.Events().size();
  const DWORD start = GetTickCount();
  run->downloader.reset();
  EXPECT_LT(GetTickCount() - start, 5000u) << "the stop flag ends the stalled transfer";
  EXPECT_EQ(run->recorder.Events().size(), before);
  EXPECT_TRUE(dir.Files().empty());
}

// Sizes beyond 32 bits: a side file of 3 GiB (sparse) resumes at its size.
TEST(CurlClientTest, ResumesBeyondFourGiBOffsets) {
  AddScenario(R"({"name": "huge", "size": 5368709124, "virtual": true})");
  ScratchDir dir;
  const std::wstring path = (dir / L"huge.bin").wstring();
  const int64_t have = 5368709124LL - 4096;
  LARGE_INTEGER size;
  size.QuadPart = have;
  {
    const Utils::UniqueHandle part(
        CreateFileW((path + L".part").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(SetFilePointerEx(part.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(part.get()));
  }
  {
    CurlClient client(Wide(FaultBase() + "/s/huge/pkg.bin"), path, nullptr, [](void*, double, double) {});
    ASSERT_EQ(client.Start(), 0);
    EXPECT_EQ(client.length(), 5368709124.0);
    EXPECT_EQ(client.resumeOffset(), have);
  }
  EXPECT_EQ(Requests("huge").back().range, "bytes=5368705028-");
  EXPECT_EQ(download::FileSize(path), 5368709124LL);
  std::string tail(4096, '\0');
  DWORD got = 0;
  {
    const Utils::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN);
    ReadFile(file.get(), tail.data(), 4096, &got, nullptr);
  }
  ASSERT_EQ(got, 4096u);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(static_cast<unsigned char>(tail[i]), (have + i) % 251) << i;
}

}  // namespace
