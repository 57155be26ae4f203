#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "tools/dbwin/dbwin_listener.h"

namespace {

TEST(Thread, StartsSuspendedRunsCallableBracketedByLogLines) {
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  std::atomic<int> calls{0};
  int owner = 0;
  void* seen = nullptr;
  {
    Utils::Thread thread(&owner, L"ABDEF", [&](void* arg) {
      seen = arg;
      ++calls;
    });
    ASSERT_NE(thread.handle(), nullptr);
    Sleep(50);
    EXPECT_EQ(calls.load(), 0) << "must not run before the owner resumes it";
    const DWORD tid = thread.id();
    ResumeThread(thread.handle());
    thread.Release();
    EXPECT_EQ(thread.handle(), nullptr);
    EXPECT_EQ(thread.id(), 0xFFFFFFFFu);
    EXPECT_TRUE(thread.name().empty());

    ASSERT_TRUE(listener.WaitFor("THREAD END", 5000));
    std::vector<std::string> mine;
    for (auto& l : listener.Lines())
      if (l.pid == GetCurrentProcessId()) mine.push_back(l.text);
    ASSERT_EQ(mine.size(), 2u);
    const std::string t =
        "<T" + std::string(tid < 10000 ? 5 - std::to_string(tid).size() : 0, '0') + std::to_string(tid) + ">";
    EXPECT_NE(mine[0].find(t), std::string::npos) << mine[0];
    EXPECT_NE(mine[0].find("(Utils::Thread::CallBack)<"), std::string::npos) << mine[0];
    EXPECT_TRUE(mine[0].ends_with(": THREAD BEGIN\r\n"));
    EXPECT_TRUE(mine[1].ends_with(": THREAD END\r\n"));
    EXPECT_NE(mine[1].find(t), std::string::npos);
  }
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(seen, &owner);
}

TEST(Thread, EmptyNameAndNamingNeverStopTheProgram) {
  // The naming exception is raised for both names; reaching the asserts
  // shows it was swallowed.
  for (const wchar_t* name : {L"", L"UnInstaller"}) {
    std::atomic<bool> ran{false};
    Utils::Thread thread(nullptr, name, [&](void*) { ran = true; });
    ASSERT_NE(thread.handle(), nullptr);
    EXPECT_EQ(thread.name(), name);
    ResumeThread(thread.handle());
    thread.WaitAndClose();
    EXPECT_TRUE(ran);
    EXPECT_EQ(thread.handle(), nullptr);
  }
}

TEST(Thread, ReleasingAThreadThatWasNeverResumedDoesNotHang) {
  std::atomic<bool> ran{false};
  Utils::Thread thread(nullptr, L"ABDEF", [&](void*) { ran = true; });
  thread.Release();
  EXPECT_EQ(thread.handle(), nullptr);
}

}  // namespace
