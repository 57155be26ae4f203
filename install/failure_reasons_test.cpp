#include "install/failure_reasons.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <climits>

#include "platform/strings.h"

namespace {

using Utils::WideToUtf8;

bool HasLoneSurrogate(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IS_HIGH_SURROGATE(text[i])) {
      if (i + 1 == text.size() || !IS_LOW_SURROGATE(text[i + 1])) return true;
      ++i;
    } else if (IS_LOW_SURROGATE(text[i])) {
      return true;
    }
  }
  return false;
}

TEST(FailureReasons, DownloadFailureText) {
  struct Case {
    double number;
    const wchar_t* message;
    double freeGiB;
    bool writable;
    uint32_t network;
    const wchar_t* expected;
  } cases[] = {
      {7, L"timeout", 10.5, true, 0x40,
       L"1.code=7；2.msg=timeout；3.缓存磁盘容量=10.50G；4.缓存读写权限=可读；5.服务器连接状态code=64"},
      {-2146697211.0, L"URLDownloadToFile", 0, false, 0x10000,
       L"1.code=-2146697211；2.msg=URLDownloadToFile；3.缓存磁盘容量=0.00G；4.缓存读写权限=无权限；5."
       L"服务器连接状态code=65536"},
      {-998.7, L"", 1.0 / 3, true, 0,
       L"1.code=-998；2.msg=；3.缓存磁盘容量=0.33G；4.缓存读写权限=可读；5.服务器连接状态code=0"},
      // A "%s" in the message is text, never a format.
      {0, L"50%s done", 2, true, 0,
       L"1.code=0；2.msg=50%s done；3.缓存磁盘容量=2.00G；4.缓存读写权限=可读；5.服务器连接状态code=0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.expected));
    EXPECT_EQ(DownloadFailureReason(c.number, c.message, c.freeGiB, c.writable, c.network), c.expected);
  }
}

TEST(FailureReasons, ReasonTextAndCodeTruncation) {
  EXPECT_EQ(FailureReason(1000, L"x"), L":1.code=1000；2.msg=x");
  EXPECT_EQ(FailureReason(0, L"安装包安装失败"), L":1.code=0；2.msg=安装包安装失败");
  EXPECT_EQ(FailureReason(0, L"curl文件md5校验失败"), L":1.code=0；2.msg=curl文件md5校验失败");
  struct {
    double number;
    long code;
  } codes[] = {{3.9, 3}, {-3.9, -3}, {2, 2}, {NAN, 0}, {1e300, LONG_MAX}, {-1e300, LONG_MIN}, {INFINITY, LONG_MAX}};
  for (const auto& c : codes) EXPECT_EQ(ReasonCode(c.number), c.code) << c.number;
}

// Long messages are shortened inside the message, never inside a pair, and
// the parts after the message survive.
TEST(FailureReasons, LongMessagesShortenCleanly) {
  const std::wstring fixedTail = L"；3.缓存磁盘容量=1.00G；4.缓存读写权限=可读；5.服务器连接状态code=0";
  const size_t fixedChars = DownloadFailureReason(7, L"", 1, true, 0).size();
  // Exactly at the limit: unchanged.
  const std::wstring fits(kMaxReasonChars - fixedChars, L'a');
  EXPECT_EQ(DownloadFailureReason(7, fits, 1, true, 0).size(), kMaxReasonChars);
  EXPECT_EQ(DownloadFailureReason(7, fits, 1, true, 0).find(L"…"), std::wstring::npos);

  std::wstring emoji;
  for (int i = 0; i < 150; ++i) emoji += L"\U0001F600";
  for (const std::wstring& prefix : {std::wstring(), std::wstring(L"a"), std::wstring(L"ab")}) {
    for (size_t extra = 0; extra < 4; ++extra) {
      const std::wstring message = prefix + std::wstring(extra, L'b') + emoji;
      SCOPED_TRACE(message.size());
      const std::wstring download = DownloadFailureReason(7, message, 1, true, 0);
      EXPECT_LE(download.size(), kMaxReasonChars);
      EXPECT_GE(download.size(), kMaxReasonChars - 1);  // at most the half pair is given up
      EXPECT_FALSE(HasLoneSurrogate(download));
      EXPECT_TRUE(download.ends_with(L"…" + fixedTail)) << WideToUtf8(download);
      EXPECT_TRUE(download.starts_with(L"1.code=7；2.msg=" + prefix));

      const std::wstring install = FailureReason(1000, message);
      EXPECT_LE(install.size(), kMaxReasonChars);
      EXPECT_FALSE(HasLoneSurrogate(install));
      EXPECT_TRUE(install.ends_with(L"…"));
    }
  }
}

}  // namespace
