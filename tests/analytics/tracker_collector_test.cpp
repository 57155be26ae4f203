// The real tracker and the installer's report functions against the
// independent collector (tools/collector), which decodes every post itself.
#include <windows.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "analytics/event_tracker.h"
#include "analytics/identity.h"
#include "analytics/installer_events.h"
#include "analytics/sdk/record_queue.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/test_support.h"
#include "tests/analytics/collector_client.h"
#include "tools/dbwin/dbwin_listener.h"

namespace {

using namespace pelan::tracking;

class TrackerAgainstCollector : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }
  void TearDown() override { ConfigureInstallerAnalytics({}); }  // a test's switch goes with it
  void SetUp() override {
    ASSERT_TRUE(collector_.ok()) << "run through the collector peer";
    collector_.Reset();
    collector_.Up();
    analytics_core::SetLastSendSucceeded(false);
    analytics_core::Sdk::Shutdown();  // none left by an earlier test
  }
  // A tracker for its own application name; `fresh` removes what an earlier
  // run left in its staging file.
  std::shared_ptr<EventTrackerWrapper> Tracker(const std::string& appName, bool fresh = true) {
    staging_ = Staging(appName);
    if (fresh) DeleteFileA(staging_.c_str());
    EventTrackerConfig config;
    config.appName = appName;
    config.appVersion = "2.0";
    config.appStore = "store.exe";
    config.serverUrl = collector_.DataUrl();
    return CreateSharedTracker(config);
  }
  static std::string Staging(const std::string& appName) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir, identity;
    LocateDataFolder(exe, appName, dir, identity);
    return dir + appName + "_PLSPending.txt";
  }
  // Each record's property `key`, or its event name where it has none.
  static std::vector<std::string> Names(const rapidjson::Value& records, const char* key) {
    std::vector<std::string> out;
    for (const auto& r : records.GetArray()) {
      const rapidjson::Value& properties = r["properties"];
      out.push_back(properties.IsObject() && properties.HasMember(key) ? test_support::JsonString(properties, key)
                                                                       : test_support::JsonString(r, "event"));
    }
    return out;
  }
  static std::vector<std::string> StagingLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  CollectorClient collector_;
  std::string staging_;
};

PlEventTask Task(const std::string& name) {
  PlEventTask t;
  t.name = name;
  return t;
}

TEST_F(TrackerAgainstCollector, InstallerEventsArriveWithTheirExactProperties) {
  bool on = true;
  InstallerAnalytics analytics;
  analytics.enabled = [&on] { return on; };
  ConfigureInstallerAnalytics(analytics);
  // Reported before the tracker exists (as the libcurl failure at start-up): held, then sent.
  ReportTask(L"libcurl初始化失败", L"", 0, {{L"AB", L"IN"}});
  DeleteFileA(Staging("Velqor.downloader").c_str());
  CreateTracker(collector_.DataUrl());
  ReportClick(L"立即安装", {{L"AB", L"IN"}});
  ReportView({{L"AB", L"IN"}});
  ReportTask(L"大包下载完毕", L"", 12.5f, {{L"AB", L"IN"}});
  ReportTask(L"下载失败原因", L"1.code=3；2.msg=x", 0, {});
  ReportClick(L"立即体验", {{L"AB", L"ABCD"}});  // refused A/B value: the click still goes
  ReportTask(L"崩溃退出", L"", 0, {{L"AB", L"IN"}});
  ReportCrash();  // flushes, and waits for its send
  on = false;
  ReportClick(L"自定义安装", {{L"AB", L"IN"}});  // switched off: nothing
  on = true;
  ShutdownTracker();

  const rapidjson::Document r = collector_.Records();
  ASSERT_EQ(r.Size(), 8u) << test_support::JsonText(r);
  const std::vector<std::string> events = {"PlEventTask", "PlEventClick", "PlEventView", "PlEventTask",
                                           "PlEventTask", "PlEventClick", "PlEventTask", "AppCrashed"};
  for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(r[rapidjson::SizeType(i)]["event"], events[i]) << i;

  const rapidjson::Value& click = r[1]["properties"];
  std::set<std::string> keys;
  for (const auto& k : click.GetObject()) keys.insert(k.name.GetString());
  const std::set<std::string> want = {
      "pl_name",         "pl_click_type",  "$is_first_time",   "plc_ab",          "pl_app_id",
      "$app_version",    "$app_id",        "pl_app_store",     "pl_edition",      "pl_dlapp_id",
      "pl_app_platform", "pl_track_type",  "pl_sdk_version",   "pl_sdk",          "$os",
      "$os_version",     "pl_l10n_locale", "pl_l10n_language", "pl_l10n_country", "$screen_height",
      "$screen_width",   "$lib",           "$lib_version"};
  EXPECT_EQ(keys, want);
  EXPECT_EQ(click["pl_name"], "立即安装");
  EXPECT_EQ(click["pl_click_type"], "Button");
  EXPECT_EQ(test_support::JsonText(click["$is_first_time"]), "true");
  EXPECT_EQ(click["plc_ab"], "IN");
  EXPECT_EQ(click["pl_app_id"], "Velqor.downloader");
  EXPECT_EQ(click["$app_version"], "1.7.9");
  EXPECT_EQ(click["pl_app_store"], "analytics_collector_test.exe");
  EXPECT_EQ(click["pl_edition"], "china");
  EXPECT_EQ(click["pl_dlapp_id"], "Velqor");
  EXPECT_EQ(click["pl_sdk"], "WindowsCPP");
  EXPECT_EQ(click["$os"], "Windows");
  EXPECT_TRUE(click["$screen_width"].IsInt());

  EXPECT_EQ(r[0]["properties"]["pl_task_name"], "libcurl初始化失败");
  EXPECT_EQ(r[0]["properties"]["pl_task_result"], "Success");
  EXPECT_EQ(test_support::JsonText(r[0]["properties"]["pl_task_elapsed"]), "0");
  EXPECT_FALSE(r[0]["properties"].HasMember("pl_reason"));
  EXPECT_EQ(r[2]["properties"]["pl_name"], "安装中");
  EXPECT_EQ(r[2]["properties"]["plc_ab"], "IN");
  EXPECT_EQ(test_support::JsonText(r[3]["properties"]["pl_task_elapsed"]), "12.5");
  EXPECT_EQ(r[4]["properties"]["pl_reason"], "1.code=3；2.msg=x");
  EXPECT_EQ(r[4]["properties"]["pl_task_result"], "Success");
  EXPECT_FALSE(r[4]["properties"].HasMember("plc_ab"));
  EXPECT_EQ(r[5]["properties"]["pl_name"], "立即体验");
  EXPECT_FALSE(r[5]["properties"].HasMember("plc_ab"));
  EXPECT_EQ(r[7]["properties"]["app_crashed_reason"], "崩溃");
  EXPECT_FALSE(r[7]["properties"].HasMember("$is_first_time"));
  EXPECT_FALSE(r[7]["properties"].HasMember("plc_ab"));

  const rapidjson::Document batches = collector_.Batches();
  EXPECT_EQ(batches[0]["user_agent"], "PelanAnalytics CPP SDK 0.9");
  EXPECT_EQ(batches[0]["path"], "/sa?project=pc");
  EXPECT_EQ(batches[0]["content_type"], "application/x-www-form-urlencoded");
}

TEST_F(TrackerAgainstCollector, SixtyFiveRecordsGoInBatchesOfThirtyThirtyAndFive) {
  auto tracker = Tracker("OvBatches");
  for (int i = 1; i <= 64; ++i) tracker->trackTask(Task("t" + std::to_string(i)), {});
  tracker->trackUninstall("done", {});  // flushes
  tracker.reset();                      // waits for the sending thread
  const rapidjson::Document batches = collector_.Batches();
  ASSERT_EQ(batches.Size(), 3u);
  EXPECT_EQ(batches[0]["records"].Size(), 30u);
  EXPECT_EQ(batches[1]["records"].Size(), 30u);
  EXPECT_EQ(batches[2]["records"].Size(), 5u);
  const auto names = Names(collector_.Records(), "pl_task_name");
  for (int i = 0; i < 64; ++i) EXPECT_EQ(names[i], "t" + std::to_string(i + 1));
  EXPECT_EQ(names[64], "PlEventUninstall");
}

TEST_F(TrackerAgainstCollector, RefusedOrGarbledPostsAreRetriedWithoutLossOrDuplicates) {
  for (const char* fault : {"500", "garbage"}) {
    collector_.Reset();
    collector_.Script(fault);
    auto tracker = Tracker(std::string("OvPutBack") + fault);
    for (int i = 1; i <= 3; ++i) tracker->trackTask(Task("p" + std::to_string(i)), {});
    tracker->trackUninstall("", {});
    tracker.reset();
    const rapidjson::Document requests = collector_.Requests();
    ASSERT_EQ(requests.Size(), 2u) << fault;
    EXPECT_EQ(requests[0]["answer"], fault);
    EXPECT_EQ(requests[1]["answer"], "ok");
    EXPECT_EQ(Names(collector_.Records(), "pl_task_name"),
              (std::vector<std::string>{"p1", "p2", "p3", "PlEventUninstall"}))
        << fault;
  }
}

TEST_F(TrackerAgainstCollector, SendsFromAThreadUntilAPostSucceedsThenInline) {
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  auto tracker = Tracker("OvInline");
  PlEventClick click;
  click.name = "first";
  tracker->trackClick(click, {});
  EXPECT_TRUE(listener.WaitFor("[Analytics] Sending messages asynchronously", 5000, GetCurrentProcessId()));
  tracker->trackUninstall("", {});  // posted by a sending thread
  for (int i = 0; i < 100 && !analytics_core::LastSendSucceeded(); ++i) Sleep(50);
  ASSERT_TRUE(analytics_core::LastSendSucceeded());
  Sleep(200);
  listener.Clear();
  click.name = "second";
  tracker->trackClick(click, {});
  tracker->trackCrash("inline");  // posted before trackCrash returns
  EXPECT_EQ(collector_.Records().Size(), 4u);
  for (const auto& line : listener.Lines())
    EXPECT_EQ(line.text.find("asynchronously"), std::string::npos) << "inline sends start no thread";
  tracker.reset();
}

TEST_F(TrackerAgainstCollector, RecordsTheServerDidNotTakeAreSentByTheNextRun) {
  collector_.Down();  // connections refused
  auto first = Tracker("OvCarry");
  for (int i = 1; i <= 5; ++i) first->trackTask(Task("c" + std::to_string(i)), {});
  first->trackUninstall("", {});
  first.reset();  // three failed attempts, then the records go to the staging file
  EXPECT_EQ(StagingLines(staging_).size(), 6u);

  collector_.Up();
  auto second = Tracker("OvCarry", false);
  second->trackTask(Task("next run"), {});
  second->trackUninstall("", {});
  second.reset();
  EXPECT_EQ(
      Names(collector_.Records(), "pl_task_name"),
      (std::vector<std::string>{"c1", "c2", "c3", "c4", "c5", "PlEventUninstall", "next run", "PlEventUninstall"}));
  EXPECT_TRUE(StagingLines(staging_).empty());
}

TEST_F(TrackerAgainstCollector, ShutdownIsBoundedWhileTheCollectorHangs) {
  collector_.Script("hang,hang,hang,hang,hang,hang");
  auto tracker = Tracker("OvHang");
  for (int i = 1; i <= 40; ++i) tracker->trackTask(Task("h" + std::to_string(i)), {});
  tracker->trackUninstall("", {});  // a sending thread starts a post that hangs
  Sleep(300);
  tracker.reset();  // waits for that thread, tries 3 times, saves the queue
  EXPECT_EQ(StagingLines(staging_).size(), 41u);
  EXPECT_EQ(collector_.Batches().Size(), 0u);
  EXPECT_GE(collector_.Requests().Size(), 2u);
}

TEST_F(TrackerAgainstCollector, TenThousandEventsWhileDownKeepTheNewestWithoutDuplicates) {
  collector_.Down();
  auto tracker = Tracker("OvLoad");
  for (int i = 1; i <= 10000; ++i) tracker->trackTask(Task("L" + std::to_string(i)), {});
  tracker->trackUninstall("down", {});
  Sleep(500);
  collector_.Up();
  tracker->trackUninstall("up", {});
  tracker.reset();
  const rapidjson::Document records = collector_.Records();
  std::set<std::string> distinct;
  for (const auto& r : records.GetArray()) distinct.insert(test_support::JsonText(r));
  EXPECT_EQ(records.Size(), 1024u);
  EXPECT_EQ(distinct.size(), records.Size());
  const auto names = Names(records, "pl_task_name");
  EXPECT_EQ(names.back(), "PlEventUninstall");
  EXPECT_EQ(names.front(), "L8979");  // the newest 1024 of 10,002 records
  std::printf("[ load ] 10000 events while down: %u delivered after recovery, %u distinct\n",
              static_cast<unsigned>(records.Size()), static_cast<unsigned>(distinct.size()));
}

// The Windows form of a host path (Wine maps the host's root to Z:).
std::string HostPath(const char* path) {
  std::string out = std::string("Z:") + (path ? path : "");
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

TEST_F(TrackerAgainstCollector, PostsOnlyToAServerWhoseCertificateAndNameAreVerified) {
  // Wine's Schannel accepts any certificate from its system store, so the
  // test authority is given as a CA file; Windows checks its own store.
  const std::string ca = HostPath(std::getenv("OV_COLLECTOR_CA"));
  const struct {
    const char* portVariable;
    bool delivered;
  } cases[] = {
      {"OV_COLLECTOR_TLS_PORT", true},               // issued by the authority for localhost
      {"OV_COLLECTOR_TLS_OTHER_NAME_PORT", false},   // same authority, another host name
      {"OV_COLLECTOR_TLS_SELF_SIGNED_PORT", false},  // nobody vouches for it
  };
  for (const auto& c : cases) {
    collector_.Reset();
    const char* port = std::getenv(c.portVariable);
    ASSERT_NE(port, nullptr) << c.portVariable;
    const std::string staging = Staging("OvTls");
    DeleteFileA(staging.c_str());
    const std::string url = std::string("https://localhost:") + port + "/sa?project=pc";  // the name libcurl checks
    auto post = [&ca](const std::string& url, const std::string& body, std::string& response) {
      return analytics_core::CurlPost(url, body, response, {ca.c_str()});
    };
    analytics_core::RecordQueue queue(url, staging, post);
    queue.AddText(R"({"distinct_id":"device","properties":{"pl_name":"secret"}})");
    analytics_core::testing::StderrCapture err;
    EXPECT_EQ(queue.Flush(), c.delivered) << c.portVariable << ": " << err.Take();
    EXPECT_EQ(collector_.Requests().Size(), c.delivered ? 1u : 0u) << c.portVariable;  // nothing reached it
    EXPECT_EQ(queue.Size(), c.delivered ? 0u : 1u) << c.portVariable;                  // and nothing was dropped
    queue.Shutdown();
    EXPECT_EQ(StagingLines(staging).size(), c.delivered ? 0u : 1u) << c.portVariable;
  }
}

TEST_F(TrackerAgainstCollector, AnAnswerThatNeverEndsIsReadOnlyUpToItsCap) {
  collector_.Script("endless");
  std::string response;
  analytics_core::testing::StderrCapture err;
  EXPECT_EQ(analytics_core::CurlPost(collector_.DataUrl(), "data_list=x&gzip=1", response), 500);
  EXPECT_LE(response.size(), 16u * 1024);
  Sleep(200);  // the server notices the closed connection
  const rapidjson::Document requests = collector_.Requests();
  ASSERT_EQ(requests.Size(), 1u);
  // What the client took in before it stopped reading: at most the socket
  // buffers beyond its cap, not the seconds of stream the time limit allows.
  EXPECT_LT(requests[0]["sent"].GetInt64(), 16 << 20) << test_support::JsonText(requests[0]["sent"]);
}

TEST_F(TrackerAgainstCollector, ATrackerCreatedAgainKeepsItsCore) {
  DeleteFileA(Staging("Velqor.downloader").c_str());
  CreateTracker(collector_.DataUrl());
  ReportClick(L"before", {});
  CreateTracker(collector_.DataUrl());  // the first tracker shuts down and posts its click
  ReportClick(L"after", {});
  ShutdownTracker();
  EXPECT_EQ(Names(collector_.Records(), "pl_name"), (std::vector<std::string>{"before", "after"}));
}

}  // namespace
