#include "platform/log.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/handles.h"
#include "tools/dbwin/dbwin_listener.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(listener_.Start()); }
  // The lines this process wrote, in order.
  std::vector<std::string> Mine() {
    std::vector<std::string> out;
    for (auto& l : listener_.Lines())
      if (l.pid == GetCurrentProcessId()) out.push_back(l.text);
    return out;
  }
  DebugOutputListener listener_;
};

namespace ns {
int g_workLine = 0;
struct Widget {
  void Work(int n) {
    g_workLine = __LINE__ + 1;
    OV_LOGS(L"work %d on %s", n, L"C:\\100%\\file");
  }
};
}  // namespace ns

TEST_F(LogTest, StatementFormHasPrefixFunctionLineAndCrLf) {
  ns::Widget().Work(7);
  ASSERT_TRUE(listener_.WaitFor("work 7", 5000));
  const auto lines = Mine();
  ASSERT_EQ(lines.size(), 1u);
  // %s takes a wide string; "%" inside data passes through unchanged.
  const std::regex re(
      R"(<P(\d{5,})><T(\d{5,})><\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}>\(\{anonymous\}::ns::Widget::Work\)<(\d{4,})>: work 7 on C:\\100%\\file\r\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, re)) << lines[0];
  EXPECT_EQ(std::stoul(m[1]), GetCurrentProcessId());
  EXPECT_EQ(std::stoul(m[2]), GetCurrentThreadId());
  EXPECT_EQ(std::stoi(m[3]), ns::g_workLine);
}

TEST_F(LogTest, MessageFormKeepsTheLiteralsEnding) {
  OV_LOG(L"get_IsConnectedToInternet:%d", 0);
  OV_LOG(L"bare\n");
  OV_LOG(L"wide %lld %f\r\n", 1234567890123LL, 0.5);
  ASSERT_TRUE(listener_.WaitFor("wide", 5000));
  const auto lines = Mine();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].ends_with(": get_IsConnectedToInternet:0")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(": bare\n")) << lines[1];
  EXPECT_TRUE(lines[2].ends_with(": wide 1234567890123 0.500000\r\n")) << lines[2];
}

// A writer killed between taking the buffer and handing it over leaves the
// channel taken: without the listener offering it again, every later line
// waited ten seconds and was then dropped.
TEST_F(LogTest, AWriterKilledInsideTheHandshakeLosesNoLaterLine) {
  OV_LOGS(L"before");
  ASSERT_TRUE(listener_.WaitFor("before", 5000));
  const Utils::UniqueHandle bufferReady(OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_BUFFER_READY"));
  ASSERT_TRUE(bufferReady);
  ASSERT_EQ(WaitForSingleObject(bufferReady.get(), 5000), WAIT_OBJECT_0);  // taken, never handed back
  OV_LOGS(L"after one");
  OV_LOGS(L"after two");
  EXPECT_TRUE(listener_.WaitFor("after two", 30000));
  EXPECT_EQ(Mine().size(), 3u);
}

TEST(LogPrefix, WidthsAreMinimumsNotLimits) {
  wchar_t buffer[200];
  _snwprintf(buffer, 200, OV_LOG_PREFIX L"x", 1234567, 42, 2026, 1, 2, 3, 4, 5, 6, L"F", 123456);
  EXPECT_STREQ(buffer, L"<P1234567><T00042><2026-01-02 03:04:05.006>(F)<123456>: x");
}

TEST(QualifiedFunctionName, StripsReturnTypeAndParameters) {
  struct Case {
    const char* signature;
    const wchar_t* name;
  } cases[] = {
      {"static unsigned int Utils::Thread::CallBack(void*)", L"Utils::Thread::CallBack"},
      {"bool Utils::HardDiskManager::CheckFreeSpace(const wchar_t*)", L"Utils::HardDiskManager::CheckFreeSpace"},
      {"std::map<int, int> A::B<x y>::f(int)", L"A::B<x y>::f"},
      {"int main()", L"main"},
      {"const char* Foo::name() const", L"Foo::name"},
  };
  for (const auto& c : cases) {
    wchar_t out[128];
    Utils::QualifiedFunctionName(c.signature, out, 128);
    EXPECT_STREQ(out, c.name) << c.signature;
  }
}

}  // namespace
