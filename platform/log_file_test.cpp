#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "platform/handles.h"
#include "platform/log.h"
#include "platform/strings.h"
#include "tests/support/test_support.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"ov_log_file_test_" + std::to_wstring(GetCurrentProcessId());
    test_support::RemoveTree(dir_);
    path_ = dir_ + L"\\setup.log";
    previous_ = dir_ + L"\\setup.1.log";
  }
  void TearDown() override {
    Utils::CloseLogFile();
    test_support::RemoveTree(dir_);
  }
  std::wstring dir_, path_, previous_;
};

// Every line in UTF-8, in the debugger line's format; the previous run's
// file kept beside the current one.
TEST_F(LogFile, EachRunStartsAFreshFileAndKeepsThePreviousOne) {
  ASSERT_TRUE(Utils::OpenLogFile(path_));
  OV_LOGS(L"first run %s", L"安装");
  ASSERT_TRUE(Utils::OpenLogFile(path_));
  OV_LOGS(L"second run");
  Utils::CloseLogFile();
  OV_LOGS(L"after closing");
  const std::string first = ReadAll(previous_), second = ReadAll(path_);
  const std::string chinese = Utils::WideToUtf8(L"first run 安装");
  EXPECT_NE(first.find(chinese + "\r\n"), std::string::npos) << first;
  EXPECT_EQ(first.rfind("<P", 0), 0u) << first;
  EXPECT_NE(first.find("LogFile_EachRunStartsAFreshFileAndKeepsThePreviousOne_Test::TestBody)<"), std::string::npos)
      << first;
  EXPECT_EQ(second.find("first run"), std::string::npos) << second;
  EXPECT_NE(second.find("second run\r\n"), std::string::npos) << second;
  EXPECT_EQ(second.find("after closing"), std::string::npos);
}

// A second instance (or anything else) still writing the file: no
// rotation under its feet, both append.
TEST_F(LogFile, AFileStillBeingWrittenIsAppendedTo) {
  ASSERT_TRUE(Utils::OpenLogFile(path_));
  OV_LOGS(L"first instance");
  const Utils::UniqueHandle other(CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(other);
  Utils::CloseLogFile();
  ASSERT_TRUE(Utils::OpenLogFile(path_));
  OV_LOGS(L"second instance");
  const std::string text = ReadAll(path_);
  EXPECT_LT(text.find("first instance"), text.find("second instance")) << text;
  EXPECT_EQ(GetFileAttributesW(previous_.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The elevated installer never writes through a link planted at the
// log's name into somebody else's file.
TEST_F(LogFile, ALinkAtTheNameNeverReachesItsTarget) {
  ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
  const std::wstring victim = dir_ + L"\\victim.txt";
  std::ofstream(victim.c_str(), std::ios::binary) << "precious";
  ASSERT_TRUE(CreateHardLinkW(path_.c_str(), victim.c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkW(previous_.c_str(), victim.c_str(), nullptr));
  Utils::OpenLogFile(path_);
  OV_LOGS(L"line");
  Utils::CloseLogFile();
  EXPECT_EQ(ReadAll(victim), "precious");
}

// Lines of "flood <thread> <n>": each whole, and each thread's numbers in
// order without a gap. Returns the lines read; a fault fails the test.
size_t CheckFloodLines(const std::string& text, const std::wstring& file) {
  SCOPED_TRACE(Utils::WideToUtf8(file));
  if (!text.empty()) {
    EXPECT_EQ(text.back(), '\n') << "a torn last line";
  }
  std::map<std::pair<int, int>, int> next;
  std::istringstream lines(text);
  std::string line;
  size_t count = 0;
  while (std::getline(lines, line)) {
    int pid = 0, tid = 0, thread = 0, n = 0;
    const size_t at = line.find(">: flood ");
    if (std::sscanf(line.c_str(), "<P%d><T%d>", &pid, &tid) != 2 || at == std::string::npos ||
        std::sscanf(line.c_str() + at, ">: flood %d %d", &thread, &n) != 2 || line.back() != '\r') {
      ADD_FAILURE() << "not a whole line: " << line;
      return count;
    }
    const auto key = std::make_pair(pid, tid);
    if (next.count(key)) {
      EXPECT_EQ(n, next[key]) << "lost or reordered: " << line;
    }
    next[key] = n + 1;
    ++count;
  }
  return count;
}

// Killed at any moment, four threads flooding, the file swapped whenever it
// outgrows a small bound: both files hold only whole lines, in order, and
// never more than the bound and one line.
TEST_F(LogFile, KilledAtAnyMomentLeavesWholeLinesInOrderWithinTheBound) {
  constexpr long kLimit = 64 * 1024;
  std::mt19937 random(GetTickCount());
  size_t lines = 0;
  const int rounds = 15;
  for (int round = 0; round < rounds; ++round) {
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION info = {};
    std::wstring command = L"\"" OV_LOG_FLOOD_EXE L"\" \"" + path_ + L"\" " + std::to_wstring(kLimit);
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info));
    const Utils::ProcessHandles child(info);
    Sleep(std::uniform_int_distribution<DWORD>(20, 400)(random));
    TerminateProcess(child.process.get(), 9);
    WaitForSingleObject(child.process.get(), 10000);
    for (const auto& file : {previous_, path_}) {
      const std::string text = ReadAll(file);
      EXPECT_LE(text.size(), static_cast<size_t>(kLimit) + 200);
      lines += CheckFloodLines(text, file);
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(lines, static_cast<size_t>(rounds)) << "the flood wrote next to nothing";
}

}  // namespace
