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

uint32_t CheckOnFreshThread(bool initialiseCom) {
  uint32_t result = 0xFFFFFFFF;
  std::thread([&] {
    if (initialiseCom) CoInitialize(nullptr);
    result = Utils::CheckNetwork();
    if (initialiseCom) CoUninitialize();
  }).join();
  return result;
}

TEST_F(SystemChecks, NetworkWithoutComIsZeroAndSilent) {
  EXPECT_EQ(CheckOnFreshThread(false), 0u);
  EXPECT_TRUE(Mine().empty());
}

// The machine's real network decides which answer comes; every answer must
// be consistent with its log line.
TEST_F(SystemChecks, NetworkAnswerMatchesItsLogLine) {
  const uint32_t value = CheckOnFreshThread(true);
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
