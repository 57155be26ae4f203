#include "analytics/sdk/sdk.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>

#include "analytics/sdk/test_support.h"
#include "tests/support/json.h"

namespace analytics_core {
namespace {

using testing::StderrCapture;

rapidjson::Document Parse(const std::string& text) {
  rapidjson::Document v;
  EXPECT_FALSE(v.Parse(text.data(), text.size()).HasParseError()) << text;
  return v;
}

// One core instance per test, never posting (the transport refuses).
class SdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    staging_ = std::string(dir) + "ov_sdk_test_staging.txt";
    DeleteFileA(staging_.c_str());
    ASSERT_TRUE(Sdk::Init(staging_, "http://x", "device-1", false,
                          [](const std::string&, const std::string&, std::string&) -> long { return 503; }));
  }
  void TearDown() override {
    Sdk::Shutdown();
    DeleteFileA(staging_.c_str());
  }
  std::vector<rapidjson::Document> Records() {
    std::vector<rapidjson::Document> out;
    for (const auto& text : Sdk::QueuedRecords()) out.push_back(Parse(text));
    return out;
  }
  std::string staging_;
};

TEST(SdkInit, RefusesABadDistinctIdAndCreatesNothing) {
  StderrCapture err;
  EXPECT_FALSE(Sdk::Init("x", "http://x", "", false));
  EXPECT_EQ(err.Take(), "The Distinct ID is empty.\n");
  EXPECT_FALSE(Sdk::Init("x", "http://x", std::string(256, 'a'), false));
  EXPECT_EQ(err.Take(), "The Distinct ID is too long, max length is 255.\n");
  EXPECT_FALSE(Sdk::Exists());
  Sdk::Track("e", PropertiesNode());  // no instance: nothing happens
  EXPECT_TRUE(Sdk::QueuedRecords().empty());
}

TEST(SdkChecks, NamesAndIds) {
  StderrCapture err;
  const struct {
    std::string name;
    bool ok;
    const char* message;
  } cases[] = {
      {"_x9", true, ""},
      {"$user_name", true, ""},
      {std::string(100, 'a'), true, ""},
      {"9abc", false, "The Event Name need to be a valid variable name."},
      {"user-name", false, "The Event Name need to be a valid variable name."},
      {"", false, "The Event Name is empty or too long, max length is 100"},
      {std::string(101, 'a'), false, "The Event Name is empty or too long, max length is 100"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckName(c.name, "Event Name"), c.ok) << c.name;
    EXPECT_EQ(err.Take(), c.message) << c.name;
  }
}

TEST_F(SdkTest, TrackRecordLayout) {
  PropertiesNode props;
  props.SetString("pl_name", "立即安装");
  props.SetString("$lib", "overridden");  // event properties win over super properties
  Sdk::Track("PlEventClick", props);
  Sdk::ProfileSet("pl_os", std::string("Windows"));
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  const rapidjson::Value& t = records[0];
  EXPECT_EQ(t["type"], "track");
  EXPECT_EQ(t["event"], "PlEventClick");
  EXPECT_EQ(t["distinct_id"], "device-1");
  EXPECT_EQ(t["properties"]["pl_name"], "立即安装");
  EXPECT_EQ(t["properties"]["$lib"], "overridden");
  EXPECT_EQ(t["properties"]["$lib_version"], "0.9");
  EXPECT_FALSE(t["properties"].HasMember("$is_login_id"));
  EXPECT_EQ(t["lib"]["$lib"], "cpp");
  EXPECT_EQ(t["lib"]["$lib_method"], "code");
  EXPECT_EQ(t["lib"]["$lib_version"], "0.9");
  EXPECT_TRUE(t["_track_id"].IsInt64());
  EXPECT_LT(t["_track_id"].GetInt64(), 1000000000);
  EXPECT_NEAR(static_cast<double>(t["time"].GetInt64()), static_cast<double>(NowMilliseconds()), 60000.0);
  EXPECT_FALSE(t.HasMember("original_id"));
  EXPECT_FALSE(t.HasMember("project"));
  // Keys in byte order: the exact text starts with "_track_id" and ends with "type".
  const std::string text = Sdk::QueuedRecords()[0];
  EXPECT_EQ(text.rfind("{\"_track_id\":", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 15), "\"type\":\"track\"}");

  const rapidjson::Value& p = records[1];
  EXPECT_EQ(p["type"], "profile_set");
  EXPECT_FALSE(p.HasMember("event"));
  EXPECT_EQ(test_support::JsonNames(p["properties"]), std::vector<std::string>{"pl_os"});  // no super properties
}

TEST_F(SdkTest, TimeAndProjectAreLiftedOutOfTheProperties) {
  PropertiesNode props;
  props.SetDateTime("$time", 1700000000, 123);
  props.SetString("$project", "demo");
  Sdk::Track("e", props);
  const auto records = Records();
  const rapidjson::Value& r = records.at(0);
  EXPECT_EQ(r["time"].GetInt64(), 1700000000123);
  EXPECT_EQ(r["project"], "demo");
  EXPECT_FALSE(r["properties"].HasMember("$time"));
  EXPECT_FALSE(r["properties"].HasMember("$project"));
}

TEST_F(SdkTest, RefusedPropertiesQueueNothing) {
  StderrCapture err;
  PropertiesNode time;
  time.SetString("$time", "2024-01-01");
  Sdk::Track("e", time);
  EXPECT_EQ(err.Take(), "The property '$time' should be DateTime type.");
  PropertiesNode project;
  project.SetInteger("$project", 1);
  Sdk::ProfileSet(project);
  EXPECT_EQ(err.Take(), "The property '$project' should be String type.");
  PropertiesNode key;
  key.SetInteger("user-name", 1);
  Sdk::Track("e", key);
  EXPECT_EQ(err.Take(), "The Property Key need to be a valid variable name.");
  Sdk::Track("9abc", PropertiesNode());
  EXPECT_EQ(err.Take(), "The Event Name need to be a valid variable name.");
  EXPECT_TRUE(Records().empty());
}

TEST_F(SdkTest, SignupSwitchesToTheLoginId) {
  Sdk::TrackSignup("u1");
  Sdk::Track("after", PropertiesNode());
  {
    // Lists skip the string checks, but a raw control byte would make the
    // server refuse the whole batch: such a record is not queued.
    StderrCapture err;
    Sdk::ProfileAppend("tags", "x\x01");
    EXPECT_EQ(err.Take().rfind("Record refused, not valid JSON text: ", 0), 0u);
  }
  Sdk::ProfileAppend("tags", "x\t");
  Sdk::ProfileIncrement("pl_visit_count", 2);
  const auto r = Records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0]["type"], "track_signup");
  EXPECT_EQ(r[0]["event"], "$SignUp");
  EXPECT_EQ(r[0]["distinct_id"], "u1");
  EXPECT_EQ(r[0]["original_id"], "device-1");
  EXPECT_FALSE(r[0]["properties"].HasMember("$is_login_id"));
  EXPECT_EQ(r[1]["distinct_id"], "u1");
  EXPECT_EQ(test_support::JsonText(r[1]["properties"]["$is_login_id"]), "true");
  EXPECT_EQ(r[2]["type"], "profile_append");
  EXPECT_EQ(r[2]["properties"]["tags"][0], "x\t");
  EXPECT_EQ(r[3]["type"], "profile_increment");
  EXPECT_EQ(test_support::JsonText(r[3]["properties"]["pl_visit_count"]), "2");
  EXPECT_EQ(Sdk::DistinctId(), "u1");
}

TEST_F(SdkTest, TrackIdsBuiltOnNewThreadsDiffer) {
  // Each new thread used to start rand() from the same seed, so the random
  // digits of its first record were the same in every thread and every run.
  std::set<std::string> randomDigits;
  for (int i = 0; i < 8; ++i) {
    std::thread([] { Sdk::Track("worker", PropertiesNode()); }).join();
  }
  for (const auto& r : Records()) {
    const std::string id = std::to_string(r["_track_id"].GetInt64() + 1000000000LL);
    randomDigits.insert(id.substr(1, 5));  // the 2 + 3 random digits before the time's 4
  }
  EXPECT_GT(randomDigits.size(), 1u);
}

TEST_F(SdkTest, SecondInitKeepsTheFirstInstance) {
  EXPECT_TRUE(Sdk::Init("other", "http://y", "device-2", true));
  Sdk::Track("e", PropertiesNode());
  EXPECT_EQ(Records().at(0)["distinct_id"], "device-1");
}

TEST_F(SdkTest, ShutdownSavesTheUnsentRecords) {
  for (const char* e : {"a", "b", "c"}) Sdk::Track(e, PropertiesNode());
  Sdk::Shutdown();
  EXPECT_FALSE(Sdk::Exists());
  std::ifstream in(staging_);
  std::vector<std::string> events;
  for (std::string line; std::getline(in, line);) events.push_back(test_support::JsonString(Parse(line), "event"));
  EXPECT_EQ(events, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SdkTrackId, SameMillisecondStillDiffers) {
  std::set<int64_t> ids;
  for (int i = 0; i < 50; ++i) ids.insert(MakeTrackId(1700000000123));
  EXPECT_GT(ids.size(), 40u);
  for (int64_t id : ids) EXPECT_EQ(id % 10000, 123);
}

}  // namespace
}  // namespace analytics_core
