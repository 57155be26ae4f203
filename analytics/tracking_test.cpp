#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <algorithm>

#include "analytics/context_properties.h"
#include "analytics/event_tracker.h"
#include "tests/support/json.h"
#include "analytics/event_tracker_impl.h"
#include "analytics/identity.h"
#include "analytics/pl_exception.h"
#include "analytics/sdk/sdk.h"
#include "analytics/sdk/test_support.h"
#include "analytics/user_tracker.h"

namespace pelan::tracking {
namespace {

std::string TempDir(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + name + "\\";
  CreateFolderLevels(path);
  return path;
}

std::string Ini(const std::string& file, const char* section, const char* key) {
  char buf[256] = {};
  GetPrivateProfileStringA(section, key, "<none>", buf, sizeof buf, file.c_str());
  return buf;
}

template <typename F>
std::string ThrownMessage(F&& f) {
  try {
    f();
  } catch (const PlException& e) {
    return e.what();
  }
  return "<no exception>";
}

TEST(AbValue, CheckAndMessages) {
  const struct {
    const char* value;
    const char* outcome;  // "valid", "invalid" or the exception's message
  } cases[] = {
      {"IN", "valid"},
      {"A", "valid"},
      {"Z9", "valid"},
      {"AB0", "valid"},
      {"", "invalid"},
      {"ABCD", "value's length is great than 3."},
      {"aB", "First char is not in A to Z"},
      {"Ab", "second char is not in A to Z and 0 to 9"},
      {"A-", "second char is not in A to Z and 0 to 9"},
      {"AB-", "third char is not in A to Z and 0 to 9"},
  };
  for (const auto& c : cases) {
    std::string got;
    try {
      got = PlContextProperties::isValidABValue(c.value) ? "valid" : "invalid";
    } catch (const PlException& e) {
      got = e.what();
      EXPECT_EQ(e.function(), "isValidABValue");
    }
    EXPECT_EQ(got, c.outcome) << c.value;
  }
}

TEST(ContextProperties, OneAbValuePerObjectAndKindsUpTo14) {
  PlContextProperties context;
  context.setProperty("IN", {3, 7});
  EXPECT_EQ(ThrownMessage([&] { context.setProperty("IN", {3}); }), "Property[plc_ab] already exist!");
  PlContextProperties other;
  EXPECT_EQ(ThrownMessage([&] { other.setProperty("IN", {14, 15}); }), "PlEvent[15] overflow!");
  EXPECT_EQ(other.getEventProperties(14).size(), 1u);  // kinds before the bad one keep their entry
  analytics_core::PropertiesNode p;
  EXPECT_TRUE(applyContext(PlEventKind::Task, p, context));
  EXPECT_FALSE(applyContext(PlEventKind::View, p, context));
  EXPECT_EQ(p.ToJson(), R"({"plc_ab":"IN"})");
}

TEST(DateTimeText, SecondsAndMillisecondsMeetAtTheThreshold) {
  EXPECT_EQ(DateTimeText(1700000000), DateTimeText(1700000000000));
  EXPECT_EQ(SplitTimestamp(157789440000), (std::pair<int64_t, int32_t>{157789440, 0}));
  EXPECT_EQ(SplitTimestamp(157789439999), (std::pair<int64_t, int32_t>{157789439999, 0}));
  EXPECT_EQ(SplitTimestamp(1700000000123), (std::pair<int64_t, int32_t>{1700000000, 123}));
}

TEST(OsVersion, TextForEachVersion) {
  const struct {
    bool available;
    unsigned major, minor, build;
    bool is64, r2;
    const char* text;
  } cases[] = {
      {false, 10, 0, 19045, true, false, "XP-"},
      {true, 4, 0, 0, false, false, "XP-"},
      {true, 5, 0, 0, false, false, "2K"},
      {true, 5, 1, 0, false, false, "XP"},
      {true, 5, 2, 0, true, false, "XP64"},
      {true, 5, 2, 0, false, true, "Server 2003 R2"},
      {true, 5, 2, 0, false, false, "Server 2003"},
      {true, 5, 3, 0, false, false, "XP+"},
      {true, 6, 0, 0, true, false, "Vista64"},
      {true, 6, 0, 0, false, false, "Vista"},
      {true, 6, 1, 0, true, false, "7"},
      {true, 6, 1, 0, false, false, "7-32"},
      {true, 6, 2, 0, false, false, "8-32"},
      {true, 6, 3, 0, false, false, "8.1"},
      {true, 6, 4, 0, false, false, "8.1+"},
      {true, 10, 0, 21999, true, false, "10"},
      {true, 10, 0, 22000, true, false, "11"},
      {true, 10, 1, 0, true, false, "11+"},
      {true, 7, 2, 99, true, false, "7.2.99"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OsVersionText(c.available, c.major, c.minor, c.build, c.is64, c.r2), c.text) << c.text;
  EXPECT_EQ(UserAgent(), "Mozilla/5.0(Windows " + OsVersion() + (Is64BitSystem() ? "; Win64;)" : "; Win32;)"));
  // The system's own architecture, whether this build is 32- or 64-bit.
  SYSTEM_INFO native = {};
  GetNativeSystemInfo(&native);
  EXPECT_EQ(Is64BitSystem(), native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
}

HRESULT WINAPI FailingGuid(GUID*) { return E_FAIL; }

TEST(DistinctId, GuidTextOrTheSeededFallback) {
  EXPECT_TRUE(
      std::regex_match(NewDistinctId(), std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  const std::string a = NewDistinctId(FailingGuid), b = NewDistinctId(FailingGuid);
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]+-[0-9a-f]+-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]+"))) << a;
}

TEST(Identity, FirstRunEndpointChangeAndBadFiles) {
  const std::string file = TempDir("ov_identity") + "id.ini";
  DeleteFileA(file.c_str());
  Identity id;
  LoadIdentity(file, id);
  ReconcileIdentity(file, "https://a/sa", id);
  EXPECT_EQ(Ini(file, "Base", "DistinctId"), id.distinctId);
  EXPECT_EQ(Ini(file, "Base", "PrimaryDistinctId"), id.distinctId);
  EXPECT_EQ(Ini(file, "Base", "UserId"), "");
  EXPECT_EQ(Ini(file, "Base", "UserVipLevel"), "0");
  EXPECT_EQ(Ini(file, "Base", "URL"), "https://a/sa");
  EXPECT_EQ(Ini(file, "Base", "isLogined"), "NG");
  const std::string primary = id.distinctId;

  // Logged in as u1 under the same endpoint: kept.
  id.userId = id.distinctId = "u1";
  id.isLogined = true;
  SaveIdentity(file, id);
  LoadIdentity(file, id);
  ReconcileIdentity(file, "https://a/sa", id);
  EXPECT_TRUE(id.isLogined);
  EXPECT_EQ(id.distinctId, "u1");
  // Another endpoint: the login goes and the primary id returns.
  ReconcileIdentity(file, "https://b/sa", id);
  EXPECT_FALSE(id.isLogined);
  EXPECT_EQ(id.userId, "");
  EXPECT_EQ(id.distinctId, primary);

  WritePrivateProfileStringA("Base", "isLogined", "ok", file.c_str());
  LoadIdentity(file, id);
  EXPECT_FALSE(id.isLogined);

  std::ofstream(file, std::ios::binary) << std::string("\x00\xff\xfe[[[\r\n=", 9) << std::string(5000, 'z');
  LoadIdentity(file, id);  // garbage: a fresh id, no crash
  EXPECT_EQ(id.distinctId.size(), 36u);

  // Ids the server would refuse in every record (a control byte, invalid
  // UTF-8) are not used: a fresh id replaces them and is kept.
  for (const char* damaged : {"12\x01\x02", "ab\xff", "\xed\xa0\x80", "x\x7f"}) {
    std::ofstream(file, std::ios::binary) << "[Base]\r\nDistinctId=" << damaged << "\r\nPrimaryDistinctId=" << damaged
                                          << "\r\nUserId=" << damaged << "\r\nURL=https://a/sa\r\n";
    LoadIdentity(file, id);
    ReconcileIdentity(file, "https://a/sa", id);
    EXPECT_EQ(id.distinctId.size(), 36u) << damaged;
    EXPECT_EQ(id.primaryDistinctId, id.distinctId) << damaged;
    EXPECT_EQ(id.userId, "") << damaged;
    const std::string fresh = id.distinctId;
    LoadIdentity(file, id);  // repaired once, then kept
    EXPECT_EQ(id.distinctId, fresh) << damaged;
  }
}

TEST(DataFolder, SetIniBesideTheExeNamesTheIdentityFileWhereThatIsSafe) {
  const std::string exeDir = TempDir("ov_setini");
  const std::string target = TempDir("ov_setini_target") + "deep/er/";
  std::string want = target;
  std::replace(want.begin(), want.end(), '/', '\\');
  char appData[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE));
  const std::string own = std::string(appData) + "\\OvSetIni\\";
  const std::string outside = TempDir("ov_setini_outside");
  const struct {
    std::string configured;
    bool elevated;
    std::string wantDir;  // empty: the default folder
  } cases[] = {
      {target + "x.ini", false, want},              // "/" separators become "\"
      {target + "x.ini", true, ""},                 // elevated: not outside the user's folders
      {own + "x.ini", true, own},                   // elevated, inside roaming app data
      {own + "..\\..\\..\\Evil\\x.ini", true, ""},  // ".." out of it
      {"Evil\\x.ini", false, ""},                   // relative: never against the current folder
      {"..\\Evil\\x.ini", true, ""},
      {"\\Evil\\x.ini", false, ""},  // rooted at the current drive
  };
  for (const auto& c : cases) {
    WritePrivateProfileStringA("Install", "PLAnalyticsIni", c.configured.c_str(), (exeDir + "Set.ini").c_str());
    std::string dataDir, identityPath;
    EXPECT_TRUE(LocateDataFolder(exeDir + "setup.exe", "App", c.elevated, dataDir, identityPath)) << c.configured;
    if (c.wantDir.empty()) {
      EXPECT_NE(dataDir.find("\\PLLocal\\App\\"), std::string::npos) << c.configured << " gave " << dataDir;
      EXPECT_EQ(identityPath, dataDir + "App_PLSConfigure.ini") << c.configured;
    } else {
      EXPECT_EQ(dataDir, c.wantDir) << c.configured;
      EXPECT_EQ(identityPath, c.wantDir + "x.ini") << c.configured;
      EXPECT_NE(GetFileAttributesA(dataDir.c_str()), INVALID_FILE_ATTRIBUTES);
    }
  }
  EXPECT_EQ(GetFileAttributesA("Evil"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("\\Evil"), INVALID_FILE_ATTRIBUTES);

  DeleteFileA((exeDir + "Set.ini").c_str());
  std::string dataDir, identityPath;
  EXPECT_TRUE(LocateDataFolder(exeDir + "setup.exe", "App", dataDir, identityPath));
  EXPECT_NE(dataDir.find("\\PLLocal\\App\\"), std::string::npos) << dataDir;
  EXPECT_EQ(identityPath, dataDir + "App_PLSConfigure.ini");
}

TEST(Profile, DispatchAndRefusals) {
  EXPECT_EQ(profileOperation("pl_first_paid_date"), ProfileOp::SetOnce);
  EXPECT_EQ(profileOperation("pl_consumption"), ProfileOp::Increment);
  EXPECT_EQ(profileOperation("pl_city"), ProfileOp::Set);
  EXPECT_EQ(ThrownMessage([] { NativeUserTracker::ProfileUserPropertyString("pl_visit_count", "1"); }),
            "user property [pl_visit_count] is string type value, it cannot be accumulated!");
  EXPECT_EQ(ThrownMessage([] { NativeUserTracker::ProfileUserPropertyString("nope", "1"); }),
            "Not supported user property [nope]!");
  EXPECT_EQ(ThrownMessage([] { NativeUserTracker::ProfileUserPropertyDateTime("pl_paid_count", 1); }),
            "user property [pl_paid_count] is boolean value, it cannot be accumulative!");
}

// A real implementation whose posts are decoded in the test; sends run inline.
class TrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    analytics_core::Sdk::Shutdown();
    EventTrackerConfig config;
    config.appName = "OvUnitTracker";
    config.appVersion = "3.1";
    config.appStore = "unit.exe";
    config.serverUrl = "http://unit.invalid/sa";
    config.post = [this](const std::string&, const std::string& body, std::string&) -> long {
      const rapidjson::Document batch = test_support::ParseJson(analytics_core::testing::DecodeBody(body));
      if (batch.IsArray())
        for (const auto& r : batch.GetArray()) posted_.push_back(test_support::CopyJson(r));
      return 200;
    };
    // A first run: no login or ids left by an earlier run of this test.
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dataDir, identityPath;
    LocateDataFolder(exe, config.appName, dataDir, identityPath);
    DeleteFileA(identityPath.c_str());
    impl_ = std::make_unique<EventTrackerImpl>(config);
    impl_->init();
    DeleteFileA(impl_->context().stagingPath.c_str());
    analytics_core::SetLastSendSucceeded(true);
  }
  void TearDown() override { impl_.reset(); }
  std::vector<rapidjson::Document> Sent() {
    analytics_core::Sdk::Flush();
    return std::exchange(posted_, {});
  }
  std::unique_ptr<EventTrackerImpl> impl_;
  std::vector<rapidjson::Document> posted_;
};

TEST_F(TrackerTest, ClickWithOnlyANameCarriesExactlyItsKeys) {
  PlEventClick click;
  click.name = "n";
  impl_->trackClick(click, {});
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  for (const char* key : {"pl_aname", "pl_title", "pl_position", "pl_module", "pl_tab_name", "pl_tab_index",
                          "pl_banner_name", "pl_banner_index", "plc_ab"})
    EXPECT_FALSE(sent[0]["properties"].HasMember(key)) << key;
  EXPECT_EQ(sent[0]["properties"]["pl_click_type"], "Others");
  EXPECT_EQ(sent[0]["properties"]["pl_app_store"], "unit.exe");
}

TEST_F(TrackerTest, ResultTextsAndAmountRules) {
  PlEventTask task;
  task.name = "t";
  task.result = PlResult::Unknown;
  impl_->trackTask(task, {});
  PlEventShare share;
  share.result = PlResult::Unknown;
  impl_->trackShare(share, {});
  PlEventFile file;
  file.aname = "f";
  file.io = PlIoType::Output;
  impl_->trackFile(file, {});
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_FALSE(sent[0]["properties"].HasMember("pl_task_result"));
  EXPECT_EQ(sent[1]["properties"]["pl_result"], "Unknown");
  EXPECT_EQ(sent[2]["properties"]["pl_io"], "Output");
  EXPECT_EQ(sent[2]["properties"]["pl_aname"], "f");

  PlEventOrder order;
  order.suitId = "s";
  order.currency = PlCurrency::USD;
  order.originalAmount = 5;
  EXPECT_EQ(ThrownMessage([&] { impl_->trackOrder(order, {}); }), "plEventOrder.originalAmount is less than zero");
  PlEventPayment pay;
  pay.orderId = "o";
  pay.currency = PlCurrency::CNY;
  pay.paidPlatform = PlPaidPlatform::Alipay;
  pay.result = PlResult::Cancelled;
  EXPECT_EQ(ThrownMessage([&] { impl_->trackPayment(pay, {}); }), "plEventPayment.result is invalid");
  pay.paidAmount = -1.5f;
  EXPECT_EQ(ThrownMessage([&] { impl_->trackPayment(pay, {}); }), "paidAmount = -1.500000 is invalid");
  pay.paidAmount = 0;
  pay.result = PlResult::Success;
  impl_->trackPayment(pay, {});  // zero is a valid payment
  sent = Sent();
  ASSERT_EQ(sent.size(), 5u);  // the payment and its four profile updates
  EXPECT_EQ(sent[0]["event"], "PlEventPayment");
  EXPECT_EQ(sent[1]["type"], "profile_increment");
  EXPECT_EQ(test_support::JsonText(sent[1]["properties"]["pl_paid_count"]), "1");
  EXPECT_EQ(sent[3]["type"], "profile_set_once");
  EXPECT_EQ(Ini(impl_->context().identityPath, "Base", "UserVipLevel"), "1");

  PlEventUpdate update;
  update.op = PlUpdateOp::DownloadEnd;
  update.result = PlUpdateResult::Success;
  EXPECT_EQ(ThrownMessage([&] { impl_->trackUpdate(update, {}); }), "invalid elapsed info");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TrackerTest, LaunchLoginAndLocale) {
  impl_->trackLaunch({});
  PlUser user;
  user.id = "u1";
  user.type = PlUserType::Email;
  impl_->trackLogin(user, true, "", {});
  impl_->setLocale("fr_CA");
  impl_->trackLaunch({});
  const auto sent = Sent();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0]["event"], "PlEventLaunch");
  EXPECT_EQ(sent[1]["event"], "PlEventLogin");
  EXPECT_EQ(sent[1]["properties"]["pl_type"], "email");
  EXPECT_EQ(sent[2]["event"], "$SignUp");
  const rapidjson::Value& last = sent[3];
  EXPECT_EQ(last["distinct_id"], "u1");
  EXPECT_EQ(test_support::JsonText(last["properties"]["$is_login_id"]), "true");
  EXPECT_EQ(last["properties"]["pl_user_id"], "u1");
  EXPECT_EQ(last["properties"]["pl_l10n_language"], "fr");
  EXPECT_EQ(last["properties"]["pl_l10n_country"], "CA");
  EXPECT_EQ(Ini(impl_->context().identityPath, "Base", "isLogined"), "OK");
  EXPECT_EQ(Ini(impl_->context().identityPath, "UninstallInfo", "AppStore"), "unit.exe");
}

TEST(TrackerInit, EmptyAppStoreStopsInitAndLaterEventsAreDropped) {
  analytics_core::Sdk::Shutdown();
  EventTrackerConfig config;
  config.appName = "OvNoStore";
  config.appVersion = "1";
  EventTrackerImpl impl(config);
  EXPECT_EQ(ThrownMessage([&] { impl.init(); }), "appStore is empty");
  EXPECT_TRUE(impl.context().dataDir.empty());
  auto wrapper = CreateSharedTracker(config);
  PlEventClick click;
  wrapper->trackClick(click, {});  // invalid and no logger: silent, nothing raised
  click.name = "x";
  wrapper->trackClick(click, {});
  EXPECT_FALSE(analytics_core::Sdk::Exists());
  EXPECT_EQ(wrapper->getPrimaryDistinctId(), "");
}

}  // namespace
}  // namespace pelan::tracking
