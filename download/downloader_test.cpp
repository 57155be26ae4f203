#include "download/downloader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <tuple>
#include <vector>

#include "download/curl_downloader.h"
#include "download/mt_curl_downloader.h"
#include "download/win_downloader.h"
#include "download/worker_slot.h"

namespace {

TEST(CreateDownloader, ByDownloadType) {
  const PhaseCallback ignore = [](int32_t, double, const wchar_t*) {};
  for (int type : {0, 1, 4, -1, 1000}) {
    auto d = CreateDownloader(type, ignore, L"http://h/x", L"");
    EXPECT_NE(dynamic_cast<CCurlDownloader*>(d.get()), nullptr) << type;
  }
  EXPECT_NE(dynamic_cast<CWinDownloader*>(CreateDownloader(2, ignore, L"http://h/x", L"").get()), nullptr);
  EXPECT_NE(dynamic_cast<CMTCurlDownloader*>(CreateDownloader(3, ignore, L"http://h/x", L"").get()), nullptr);
}

TEST(Downloaders, EmptyTargetPathFailsAtOnceWithOne) {
  for (int type : {1, 2, 3}) {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::tuple<int32_t, double, std::wstring>> calls;
    auto downloader = CreateDownloader(
        type,
        [&](int32_t code, double n, const wchar_t* text) {
          std::lock_guard<std::mutex> lock(mutex);
          calls.emplace_back(code, n, text);
          done.notify_all();
        },
        L"http://127.0.0.1:1/x", L"");
    downloader->Start();
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(10), [&] { return calls.size() >= 2; })) << type;
    EXPECT_EQ(calls[0], std::make_tuple(int32_t{DL_CODE_START}, 1.0, std::wstring()));
    EXPECT_EQ(calls[1], std::make_tuple(int32_t{DL_CODE_FAIL}, 1.0, std::wstring())) << type;
    lock.unlock();
    downloader.reset();
    EXPECT_EQ(calls.size(), 2u);
  }
}

TEST(CCurlDownloaderRelay, ForwardsOnlyRealProgress) {
  std::vector<std::pair<int32_t, double>> calls;
  CCurlDownloader downloader(
      [&](int32_t code, double n, const wchar_t*) {
        calls.push_back({code, n});
      },
      L"http://h/x", L"");
  CCurlDownloader::Relay(&downloader, 0.0, 50);     // no speed
  CCurlDownloader::Relay(&downloader, 100.0, 101);  // above 100 %
  CCurlDownloader::Relay(&downloader, 100.0, 50);
  CCurlDownloader::Relay(&downloader, 100.0, 100);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], std::make_pair(int32_t{DL_CODE_PROGRESS}, 0.5));
  EXPECT_EQ(calls[1], std::make_pair(int32_t{DL_CODE_PROGRESS}, 1.0));
}

// A retry asked from inside the worker's own last call: no deadlock, the
// new worker runs only after the old one ended, and both are joined.
TEST(WorkerSlot, StartFromItsOwnWorkerChainsWithoutOverlap) {
  std::atomic<int> running{0}, maxRunning{0}, runs{0};
  std::vector<DWORD> threads;
  download::WorkerSlot slot;
  std::function<void()> body = [&] {
    maxRunning = std::max(maxRunning.load(), ++running);
    threads.push_back(GetCurrentThreadId());
    const int n = ++runs;
    Sleep(20);
    --running;
    if (n < 3) slot.Start(nullptr, body);  // as an owner answering DL_CODE_RETRY
  };
  slot.Start(nullptr, body);
  for (int i = 0; i < 200 && runs < 3; ++i) Sleep(10);
  slot.Join();
  EXPECT_EQ(runs.load(), 3);
  EXPECT_EQ(maxRunning.load(), 1);
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_NE(threads[0], threads[1]);
}

}  // namespace
