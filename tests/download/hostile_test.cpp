// Hostile servers against both libcurl downloaders. Whatever the server
// does, every run ends in exactly one final code, a success leaves exactly
// the package at its path, a failure leaves no file there, and destroying
// the downloader leaves no side or part file.
#include <gtest/gtest.h>

#include "download/downloader.h"
#include "download/verify.h"
#include "tests/download/harness.h"

using namespace dltest;

namespace {

struct Scenario {
  const char* name;
  const char* steps;  // "head"/"get" lists of the fault server
};

const Scenario kScenarios[] = {
    {"longer-length", R"("get": [{"length": 2098152}])"},
    {"shorter-length", R"("get": [{"length": 2096152}])"},
    {"head-length-doubled", R"("head": [{"length": 4194304}])"},
    {"no-length-on-get", R"("get": [{"no_length": true}])"},
    {"redirect-loop", R"("head": [{"redirect": "self"}], "get": [{"redirect": "self"}])"},
    {"get-redirect-loop", R"("get": [{"redirect": "self"}])"},
    {"garbage-status", R"("head": [{"garbage": true}], "get": [{"garbage": true}])"},
    {"garbage-get", R"("get": [{"garbage": true}])"},
    {"always-truncated", R"("get": [{"cut": 1000}])"},
    {"html-page", R"("get": [{"html": 2097152}])"},
    {"small-html", R"("head": [{"html": 5000}], "get": [{"html": 5000}])"},
    {"status-416", R"("get": [{"status": 416}])"},
    {"status-500", R"("get": [{"status": 500}])"},
    {"closes-silently", R"("get": [{"close": true}])"},
    {"gzip-always", R"("get": [{"gzip": true}])"},
    {"cut-then-ignore-range", R"("get": [{"cut": 70000}, {"ignore_range": true}])"},
    {"stall-always", R"("get": [{"stall": 0}])"},
};

class Hostile : public ::testing::TestWithParam<int32_t> {};

// A downloader of the type on a new 2 MiB scenario, run to its final code.
struct ScenarioRun {
  ScenarioRun(int32_t type, const char* scenario, const char* steps)
      : name(std::string(scenario) + "-" + std::to_string(type)) {
    const std::string md5 = AddScenario(R"({"name": ")" + name + R"(", "size": 2097152, )" + steps + "}");
    downloader = CreateDownloader(type, recorder.Callback(), Wide(PackageUrl(name, md5)), (dir / L"pkg.exe").wstring());
    recorder.downloader = downloader.get();
    downloader->Start();
    ended = recorder.WaitFinal(120000);
  }
  const std::string name;
  ScratchDir dir;
  Recorder recorder;
  std::unique_ptr<CDownloader> downloader;
  bool ended = false;
};

TEST_P(Hostile, NeverACorruptSuccessNeverAHang) {
  FastTiming timing(1, 1);
  int runs = 0, successes = 0;
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    const std::string name = std::string(s.name) + "-" + std::to_string(GetParam());
    const std::string md5 =
        AddScenario(R"({"name": ")" + name + R"(", "size": 2097152, )" + std::string(s.steps) + "}");
    ScratchDir dir;
    const auto target = dir / L"pkg.exe";
    Recorder recorder;
    {
      auto downloader =
          CreateDownloader(GetParam(), recorder.Callback(), Wide(PackageUrl(name, md5)), target.wstring());
      recorder.downloader = downloader.get();
      downloader->Start();
      ASSERT_TRUE(recorder.WaitFinal(120000));
      Sleep(100);  // nothing may follow the final code
      const auto codes = recorder.Codes();
      int finals = 0;
      for (int32_t c : codes) finals += c == DL_CODE_SUCCESS || c == DL_CODE_FAIL;
      EXPECT_EQ(finals, 1);
      EXPECT_EQ(codes.front(), DL_CODE_START);
      EXPECT_FALSE(recorder.overlapped());
      if (codes.back() == DL_CODE_SUCCESS) {
        ++successes;
        EXPECT_EQ(download::FileMd5(target.wstring()), md5);
      } else {
        EXPECT_FALSE(std::filesystem::exists(target));
      }
      ++runs;
    }
    const auto left = dir.Files();
    EXPECT_TRUE(left.empty() || (left.size() == 1 && left[0] == L"pkg.exe")) << left.size();
  }
  EXPECT_EQ(runs, static_cast<int>(std::size(kScenarios)));
  std::printf("%d hostile scenarios, %d recovered to a verified success, no corrupt success\n", runs, successes);
}

// A captive portal answers the package URL with its sign-in page: the
// download stops at the page's first bytes (the page stalls after 2000
// bytes, and the stall limit is ten minutes: reading on would hang), tells
// why, and leaves no file.
TEST_P(Hostile, WebPageInsteadOfThePackageIsStoppedAtItsFirstBytes) {
  FastTiming timing(600, 600);
  const struct {
    const char* name;
    const char* steps;
    bool getsBody;
  } cases[] = {
      {"portal-type", R"("get": [{"html": 4194304, "stall": 2000}])", true},
      {"portal-bytes", R"("get": [{"html": 4194304, "stall": 2000, "type": "application/octet-stream"}])", true},
      {"portal-head", R"("head": [{"html": 5000}], "get": [{"html": 4194304, "stall": 2000}])", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScenarioRun run(GetParam(), c.name, c.steps);
    ASSERT_TRUE(run.ended);
    const auto reports = run.recorder.Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].code, DL_CODE_START);
    EXPECT_EQ(reports[1].code, DL_CODE_NOTICE);
    EXPECT_EQ(reports[1].text, kWebPageNotice);
    EXPECT_EQ(reports[2].code, DL_CODE_FAIL);
    EXPECT_EQ(reports[2].number, 0.0);
    EXPECT_EQ(reports[2].text, L"LibCurl");
    EXPECT_TRUE(run.dir.Files().empty()) << "no side or part file while the downloader lives on";
    int bodies = 0;
    for (const auto& r : Requests(run.name)) bodies += r.method == "GET" && r.range != "bytes=0-0";
    EXPECT_EQ(bodies, c.getsBody ? 1 : 0) << "a web page is not asked for again";
  }
}

// A server that accepts and never answers: each request waits for its first
// answer only so long, and the attempts end once nothing has come for the
// series' bound, well before the retry budget is spent (six attempts of the
// single stream, seven per part and a retry of the segmented downloader).
TEST_P(Hostile, SilentServerEndsTheAttemptsWithinTheBound) {
  FastTiming timing(600, 600, /*firstAnswerMs=*/300, /*silentSeriesMs=*/900);
  const struct {
    const char* name;
    const char* steps;
  } cases[] = {
      {"silent-get", R"("get": [{"silent": true}])"},
      {"silent-all", R"("head": [{"silent": true}], "get": [{"silent": true}])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScenarioRun run(GetParam(), c.name, c.steps);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.recorder.Codes(), (std::vector<int32_t>{DL_CODE_START, DL_CODE_FAIL}))
        << "no retry after a silent series";
    const auto log = Requests(run.name);
    EXPECT_LT(CountRequests(log, "GET"), 6);
    EXPECT_LT(CountRequests(log, "HEAD"), 6);
    run.downloader.reset();  // a side file is kept for the user's retry until then
    EXPECT_TRUE(run.dir.Files().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Downloaders, Hostile, ::testing::Values(1, 3), [](const auto& info) {
  return info.param == 1 ? std::string("SingleStream") : std::string("Segmented");
});

}  // namespace
