// Zero loss across runs: 10,000 events over 20 runs of the tracker, each run
// its own process, against the collector going down, answering 500, refusing
// a batch with 400, hanging, and processes killed at random moments (also
// inside the staging file's rewrite), with damaged files planted between
// runs. Every event must arrive exactly once.
//
// Kills fall where no post can be in flight towards a server that will
// accept it: while the collector is down, refusing or hanging, before the
// run's first flush, or inside a staging rewrite. A kill between the
// server's 200 and the rewrite that follows it would resend that batch: no
// client can make those two steps one (docs/analytics.md).
//
// OV_ZERO_LOSS_ROUNDS=n repeats the loop n times with other kill moments.
#include <windows.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>

#include "analytics/identity.h"
#include "platform/handles.h"
#include "tests/analytics/collector_client.h"

namespace {

constexpr int kRuns = 20;
constexpr int kEventsPerRun = 500;
const char* const kApp = "OvZeroLoss";

enum class Server { Ok, Down, Refuse500, Refuse400, Hang };
enum class Kill { None, AtRandomTime, AfterRandomEvent, InsideStagingRewrite };
enum class Plant { None, PoisonedLines, DamagedIdentity, HugeLine };

struct RunPlan {
  Server server;
  Kill kill;
  Plant plant;
};

// Never two failing runs in a row: the queue's cap (1024) then holds every
// unsent record (510 per run), so every event is expected to arrive.
const RunPlan kSchedule[kRuns] = {
    {Server::Ok, Kill::None, Plant::None},
    {Server::Down, Kill::AtRandomTime, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::None},
    {Server::Refuse500, Kill::InsideStagingRewrite, Plant::None},
    {Server::Ok, Kill::None, Plant::PoisonedLines},
    {Server::Hang, Kill::AtRandomTime, Plant::None},
    {Server::Ok, Kill::AfterRandomEvent, Plant::None},
    {Server::Refuse400, Kill::None, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::DamagedIdentity},
    {Server::Down, Kill::InsideStagingRewrite, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::None},
    {Server::Refuse500, Kill::AtRandomTime, Plant::None},
    {Server::Ok, Kill::AfterRandomEvent, Plant::HugeLine},
    {Server::Down, Kill::AfterRandomEvent, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::None},
    {Server::Refuse400, Kill::AfterRandomEvent, Plant::PoisonedLines},
    {Server::Ok, Kill::None, Plant::None},
    {Server::Hang, Kill::None, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::None},
    {Server::Ok, Kill::None, Plant::None},
};

std::string HelperPath() {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path = exe;
  return path.substr(0, path.rfind('\\') + 1) + "tracker_run_helper.exe";
}

void AppendToFile(const std::string& path, const std::string& bytes) {
  if (const Utils::UniqueStdioFile f{std::fopen(path.c_str(), "ab")})
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
}

class ZeroLoss : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }
  void SetUp() override {
    ASSERT_TRUE(collector_.ok()) << "run through the collector peer";
    pelan::tracking::LocateDataFolder(HelperPath(), kApp, dataDir_, identityPath_);
    staging_ = dataDir_ + kApp + "_PLSPending.txt";
  }
  void Clean() {
    for (const char* suffix :
         {"_PLSPending.txt", "_PLSPending.txt.tmp", "_PLSPending.txt.refused", "_PLSConfigure.ini"})
      DeleteFileA((dataDir_ + kApp + suffix).c_str());
  }

  // One run of `count` events from `first`; returns its exit code (9 for a
  // kill), how many track calls began and how many returned. A call cut by
  // the kill may or may not have kept its event.
  DWORD Start(int first, int count, int killAfter, int killAtWrite, int killAfterMs, int& began, int& tracked) {
    const char* kProgress = "OvZeroLossProgress";
    const Utils::UniqueHandle mapping(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2 * sizeof(LONG), kProgress));
    const Utils::UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 2 * sizeof(LONG)));
    auto* progress = static_cast<volatile LONG*>(const_cast<void*>(view.get()));
    progress[0] = 0;
    progress[1] = 0;
    std::string cmd = "\"" + HelperPath() + "\" " + kApp + " " + collector_.DataUrl() + " " + std::to_string(first) +
                      " " + std::to_string(count) + " " + kProgress + " " + std::to_string(killAfter) + " " +
                      std::to_string(killAtWrite);
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION info = {};
    DWORD code = 1000;
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info)) {
      const Utils::ProcessHandles helper(info);
      if (killAfterMs > 0 && WaitForSingleObject(helper.process.get(), killAfterMs) == WAIT_TIMEOUT)
        TerminateProcess(helper.process.get(), 9);
      WaitForSingleObject(helper.process.get(), INFINITE);
      GetExitCodeProcess(helper.process.get(), &code);
    }
    began = progress[0];
    tracked = progress[1];
    return code;
  }

  void PlantFile(Plant plant) {
    switch (plant) {
      case Plant::None:
        break;
      case Plant::PoisonedLines:
        // A torn line that still starts and ends with braces, a control byte,
        // an invalid UTF-8 byte: each makes the collector refuse its batch.
        AppendToFile(staging_,
                     "{\"type\":\"track\",\"properties\":{\"pl_task_name\":\"torn}\n"
                     "{\"distinct_id\":\"a\x01\",\"type\":\"track\"}\n"
                     "{\"distinct_id\":\"\xff\xfe\",\"type\":\"track\"}\n");
        break;
      case Plant::DamagedIdentity:
        WritePrivateProfileStringA("Base", "DistinctId", "12\x01\xff", identityPath_.c_str());
        WritePrivateProfileStringA("Base", "PrimaryDistinctId", "12\x01\xff", identityPath_.c_str());
        break;
      case Plant::HugeLine:
        AppendToFile(staging_, "{" + std::string(3 << 20, 'x'));  // 3 MiB without a line break
        break;
    }
  }

  CollectorClient collector_;
  std::string dataDir_, identityPath_, staging_;
};

TEST_F(ZeroLoss, TenThousandEventsOverTwentyKilledAndRefusedRunsArriveExactlyOnce) {
  const char* roundsEnv = std::getenv("OV_ZERO_LOSS_ROUNDS");
  const int rounds = roundsEnv ? std::max(1, std::atoi(roundsEnv)) : 1;
  for (int round = 0; round < rounds; ++round) {
    Clean();
    collector_.Reset();
    collector_.Up();
    std::mt19937 random(1400 + round);  // the kill moments: reproducible per round
    int kills = 0;
    std::set<int> inDoubt;  // events whose track call the kill cut: 0 or 1 arrival is right
    for (int r = 0; r < kRuns; ++r) {
      const RunPlan& run = kSchedule[r];
      PlantFile(run.plant);
      collector_.Up();
      switch (run.server) {
        case Server::Ok:
          collector_.Script("");
          break;
        case Server::Down:
          collector_.Down();
          break;
        case Server::Refuse500: {
          std::string answers = "500";
          for (int i = 0; i < 40; ++i) answers += ",500";
          collector_.Script(answers);
          break;
        }
        case Server::Refuse400:
          collector_.Script("400");
          break;
        case Server::Hang:
          collector_.Script("hang,hang");
          break;
      }
      int killAfter = 0, killAtWrite = 0, killAfterMs = 0;
      switch (run.kill) {
        case Kill::None:
          break;
        case Kill::AtRandomTime:
          killAfterMs = std::uniform_int_distribution<int>(50, 900)(random);
          break;
        case Kill::AfterRandomEvent:
          killAfter = std::uniform_int_distribution<int>(1, 49)(random);
          break;
        case Kill::InsideStagingRewrite:
          // With the server answering 200 only the first rewrite (when the
          // run loads the file) is a target: a kill in the rewrite after a
          // delivery resends that batch by design. Without deliveries, the
          // later rewrites (shutdown) are targets too.
          killAtWrite = std::uniform_int_distribution<int>(1, run.server == Server::Ok ? 2 : 4)(random);
          break;
      }
      int began = 0, tracked = 0;
      const DWORD code = Start(r * kEventsPerRun, kEventsPerRun, killAfter, killAtWrite, killAfterMs, began, tracked);
      kills += code == 9;
      std::printf("[ run %2d ] events %d-%d, exit %lu after %d events\n", r + 1, r * kEventsPerRun,
                  (r + 1) * kEventsPerRun - 1, static_cast<unsigned long>(code), tracked);
      ASSERT_TRUE(code == 0 || code == 9) << code;
      if (began > tracked) inDoubt.insert(r * kEventsPerRun + tracked);
      if (began < kEventsPerRun) {
        // The rest of the run's events come from the next start, as when a
        // user starts the installer again.
        int moreBegan = 0, more = 0;
        ASSERT_EQ(Start(r * kEventsPerRun + began, kEventsPerRun - began, 0, 0, 0, moreBegan, more), 0u);
        ASSERT_EQ(more, kEventsPerRun - began);
      }
    }
    collector_.Up();
    collector_.Script("");
    int lastBegan = 0, last = 0;
    Start(kRuns * kEventsPerRun, 1, 0, 0, 0, lastBegan,
          last);  // one more run (its own events are not counted) posts the last saved ones

    std::map<int, int> arrivals;
    int malformedPosts = 0;
    const rapidjson::Document requests = collector_.Requests(), records = collector_.Records();
    for (const auto& request : requests.GetArray())
      malformedPosts += !test_support::JsonString(request, "error").empty();
    for (const auto& record : records.GetArray()) {
      const std::string name = test_support::JsonString(record["properties"], "pl_task_name");
      if (name.size() > 1 && name[0] == 'Z') ++arrivals[std::atoi(name.c_str() + 1)];
    }
    // Events whose run was killed after k events are tracked by the restart
    // from k on; those before k were tracked once by the killed process.
    int sent = 0, lost = 0, duplicated = 0;
    std::string lostRanges, duplicatedRanges;  // "first-last" runs of events, for a failure's message
    auto note = [](std::string& ranges, int e, bool hit, bool previousHit) {
      if (hit && !previousHit) ranges += " " + std::to_string(e);
      if (!hit && previousHit) ranges += "-" + std::to_string(e - 1);
    };
    bool wasLost = false, wasDuplicated = false;
    int inDoubtArrived = 0;
    for (int e = 0; e <= kRuns * kEventsPerRun; ++e) {
      const auto it = arrivals.find(e);
      int n = e == kRuns * kEventsPerRun ? 1 : it == arrivals.end() ? 0 : it->second;
      if (inDoubt.count(e)) {
        n = std::max(n, 1);
        inDoubtArrived += it != arrivals.end();
      }
      note(lostRanges, e, n == 0, wasLost);
      note(duplicatedRanges, e, n > 1, wasDuplicated);
      wasLost = n == 0;
      wasDuplicated = n > 1;
      if (e == kRuns * kEventsPerRun) break;
      sent += n > 0;
      lost += n == 0;
      duplicated += n > 1 ? n - 1 : 0;
    }
    std::printf(
        "[ zero-loss ] round %d: %d runs, %d kills, %d events: %d sent, %d lost, %d duplicated, "
        "%d malformed posts; %d events cut by a kill inside their track call, %d of them kept\n",
        round + 1, kRuns, kills, kRuns * kEventsPerRun, sent, lost, duplicated, malformedPosts,
        static_cast<int>(inDoubt.size()), inDoubtArrived);
    EXPECT_EQ(lost, 0) << "lost:" << lostRanges;
    EXPECT_EQ(duplicated, 0) << "duplicated:" << duplicatedRanges;
    EXPECT_EQ(malformedPosts, 0);
  }
}

}  // namespace
