#include "platform/system_checks.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

#include "tools/dbwin/dbwin_listener.h"

namespace {

class SystemChecks : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(listener_.Start()); }
  std::vector<std::string> Mine() {
    OutputDebugStringW(L"system-checks-sync");
    listener_.WaitFor("system-checks-sync", 5000, GetCurrentProcessId());
    std::vector<std::string> out;
    for (auto& l : listener_.Lines())
      if (l.pid == GetCurrentProcessId() && l.text != "system-checks-sync") out.push_back(l.text);
    return out;
  }
  DebugOutputListener listener_;
};

// The thread's COM before the check: none, or one of the two models.
enum class Com { kNone, kApartment, kMultithreaded };

// The check's answer on a new thread, and whether the thread's COM was as
// the test left it afterwards (none stays none, a model stays set up).
uint32_t CheckOnFreshThread(Com com, bool* comAsBefore = nullptr) {
  uint32_t result = 0xFFFFFFFF;
  std::thread([&] {
    if (com != Com::kNone)
      CoInitializeEx(nullptr, com == Com::kApartment ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    result = Utils::CheckNetwork();
    // S_OK: COM was not set up on this thread; S_FALSE: it still is.
    const HRESULT again =
        CoInitializeEx(nullptr, com == Com::kMultithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    if (comAsBefore) *comAsBefore = again == (com == Com::kNone ? S_OK : S_FALSE);
    if (SUCCEEDED(again)) CoUninitialize();
    if (com != Com::kNone) CoUninitialize();
  }).join();
  return result;
}

// Callers are worker threads with or without COM: the check sets it up
// where it is missing, gives the same answer either way, and leaves the
// thread's COM as it found it.
TEST_F(SystemChecks, NetworkAnswerDoesNotDependOnTheThreadsCom) {
  const uint32_t withCom = CheckOnFreshThread(Com::kApartment);
  for (const Com com : {Com::kNone, Com::kApartment, Com::kMultithreaded}) {
    SCOPED_TRACE(static_cast<int>(com));
    bool comAsBefore = false;
    EXPECT_EQ(CheckOnFreshThread(com, &comAsBefore), withCom);
    EXPECT_TRUE(comAsBefore);
  }
}

// The machine's real network decides which answer comes; every answer must
// be consistent with its log line.
TEST_F(SystemChecks, NetworkAnswerMatchesItsLogLine) {
  const uint32_t value = CheckOnFreshThread(Com::kApartment);
  const uint32_t flags = value & 0xFFFF, reason = value >> Utils::kNetworkReasonShift;
  const auto lines = Mine();
  switch (reason) {
    case 0:
      EXPECT_TRUE(lines.empty());
      break;
    case 1:
      EXPECT_EQ(flags, 0u);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(lines[0].ends_with(": GetConnectivity 0")) << lines[0];
      EXPECT_NE(lines[0].find("(Utils::CheckNetwork)"), std::string::npos) << lines[0];
      break;
    case 2:
      EXPECT_NE(flags, 0u);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(lines[0].ends_with(": get_IsConnectedToInternet:0")) << lines[0];
      EXPECT_NE(lines[0].find("(Utils::CheckNetwork)"), std::string::npos) << lines[0];
      break;
    default:
      ADD_FAILURE() << "reason " << reason;
  }
}

TEST_F(SystemChecks, FreeSpaceOfTheSystemDrive) {
  Utils::HardDiskManager disk;
  ASSERT_TRUE(disk.CheckFreeSpace(L"C:"));
  EXPECT_GT(disk.totalBytes, 0u);
  EXPECT_LE(disk.freeBytesAvailable, disk.totalFreeBytes);
  EXPECT_LE(disk.totalFreeBytes, disk.totalBytes);
  EXPECT_TRUE(Mine().empty());
}

TEST_F(SystemChecks, MissingDriveFailsLogsTheCodeAndKeepsTheCounts) {
  const DWORD drives = GetLogicalDrives();
  wchar_t letter = 0;
  for (wchar_t c = L'Q'; c <= L'Y' && !letter; ++c)
    if (!(drives & (1u << (c - L'A')))) letter = c;
  ASSERT_NE(letter, 0);
  Utils::HardDiskManager disk;
  disk.freeBytesAvailable = 7;
  EXPECT_FALSE(disk.CheckFreeSpace(std::wstring(1, letter) + L":"));
  EXPECT_EQ(disk.freeBytesAvailable, 7u);
  EXPECT_EQ(disk.totalBytes, 0u);
  const auto lines = Mine();
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  EXPECT_NE(line.find("(Utils::HardDiskManager::CheckFreeSpace)"), std::string::npos) << line;
  EXPECT_TRUE(line.ends_with(": HardDiskManager::CheckFreeSpace FAIL code=3\r\n") ||
              line.ends_with(": HardDiskManager::CheckFreeSpace FAIL code=15\r\n"))
      << line;
}

TEST(BytesToGiB, TenAndAHalf) { EXPECT_DOUBLE_EQ(Utils::BytesToGiB(11274289152ull), 10.5); }

}  // namespace
