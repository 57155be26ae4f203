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
#include <string>

#include "analytics/identity.h"
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
    {Server::Refuse500, Kill::None, Plant::None},
    {Server::Ok, Kill::None, Plant::PoisonedLines},
    {Server::Hang, Kill::AtRandomTime, Plant::None},
    {Server::Ok, Kill::AfterRandomEvent, Plant::None},
    {Server::Refuse400, Kill::None, Plant::None},
    {Server::Ok, Kill::InsideStagingRewrite, Plant::DamagedIdentity},
    {Server::Down, Kill::None, Plant::None},
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
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
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
    for (const char* suffix : {"_PLSPending.txt", "_PLSPending.tmp", "_PLSRefused.txt", "_PLSConfigure.ini"})
      DeleteFileA((dataDir_ + kApp + suffix).c_str());
  }

  // Starts one run; returns its exit code (9 for a kill).
  DWORD Start(int first, int count, int killAfter, int killAtWrite, int killAfterMs) {
    std::string cmd = "\"" + HelperPath() + "\" " + kApp + " " + collector_.DataUrl() + " " + std::to_string(first) +
                      " " + std::to_string(count) + " " + std::to_string(killAfter) + " " +
                      std::to_string(killAtWrite);
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1000;
    if (killAfterMs > 0 && WaitForSingleObject(pi.hProcess, killAfterMs) == WAIT_TIMEOUT)
      TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }

  void PlantFile(Plant plant) {
    switch (plant) {
      case Plant::None: break;
      case Plant::PoisonedLines:
        // A torn line that still starts and ends with braces, a control byte,
        // an invalid UTF-8 byte: each makes the collector refuse its batch.
        AppendToFile(staging_, "{\"type\":\"track\",\"properties\":{\"pl_task_name\":\"torn}\n"
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
    for (int r = 0; r < kRuns; ++r) {
      const RunPlan& run = kSchedule[r];
      PlantFile(run.plant);
      collector_.Up();
      switch (run.server) {
        case Server::Ok: collector_.Script(""); break;
        case Server::Down: collector_.Down(); break;
        case Server::Refuse500: {
          std::string answers = "500";
          for (int i = 0; i < 40; ++i) answers += ",500";
          collector_.Script(answers);
          break;
        }
        case Server::Refuse400: collector_.Script("400"); break;
        case Server::Hang: collector_.Script("hang,hang"); break;
      }
      int killAfter = 0, killAtWrite = 0, killAfterMs = 0;
      switch (run.kill) {
        case Kill::None: break;
        case Kill::AtRandomTime: killAfterMs = std::uniform_int_distribution<int>(100, 2500)(random); break;
        case Kill::AfterRandomEvent: killAfter = std::uniform_int_distribution<int>(1, 49)(random); break;
        case Kill::InsideStagingRewrite: killAtWrite = std::uniform_int_distribution<int>(1, 12)(random); break;
      }
      const DWORD code = Start(r * kEventsPerRun, kEventsPerRun, killAfter, killAtWrite, killAfterMs);
      kills += code == 9;
      std::printf("[ run %2d ] exit %lu\n", r + 1, static_cast<unsigned long>(code));
      if (killAfter > 0) {
        // The rest of the run's events come from a second process, as a user
        // who starts the installer again would.
        Start(r * kEventsPerRun + killAfter, kEventsPerRun - killAfter, 0, 0, 0);
      }
    }
    collector_.Up();
    collector_.Script("");
    Start(kRuns * kEventsPerRun, 1, 0, 0, 0);  // one more run (its own events are not counted) posts the last saved ones

    std::map<int, int> arrivals;
    int malformedPosts = 0;
    for (const auto& request : collector_.Requests()) malformedPosts += !request["error"].asString().empty();
    for (const auto& record : collector_.Records()) {
      const std::string name = record["properties"]["pl_task_name"].asString();
      if (name.size() > 1 && name[0] == 'Z') ++arrivals[std::atoi(name.c_str() + 1)];
    }
    // Events whose run was killed after k events are tracked by the restart
    // from k on; those before k were tracked once by the killed process.
    int sent = 0, lost = 0, duplicated = 0;
    for (int e = 0; e < kRuns * kEventsPerRun; ++e) {
      const auto it = arrivals.find(e);
      const int n = it == arrivals.end() ? 0 : it->second;
      sent += n > 0;
      lost += n == 0;
      duplicated += n > 1 ? n - 1 : 0;
    }
    std::printf("[ zero-loss ] round %d: %d runs, %d kills, %d events: %d sent, %d lost, %d duplicated, "
                "%d malformed posts\n",
                round + 1, kRuns, kills, kRuns * kEventsPerRun, sent, lost, duplicated, malformedPosts);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(malformedPosts, 0);
  }
}

}  // namespace
