#include "download/url_text.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeUrlForSystemDownload, BytewiseEscaping) {
  struct Case {
    const wchar_t* url;
    const wchar_t* escaped;
  } cases[] = {
      {L"http://h/a b.exe", L"http://h/a+b.exe"},
      {L"http://h/\u4e2d.exe", L"http://h/%E4%B8%AD.exe"},
      {L"http://h/a%20b.exe?x=1&y=~", L"http://h/a%20b.exe?x=1&y=~"},
      {L"http://h/tab\there", L"http://h/tab%09here"},
      {L"file:///C:/a b/\u4e2d.exe", L"file:///C:/a b/\u4e2d.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(download::EscapeUrlForSystemDownload(c.url), c.escaped) << c.url;
}

TEST(NarrowUrl, Utf8ExceptFileUrls) {
  EXPECT_EQ(download::NarrowUrl(L"http://h/\u4e2d"), "http://h/\xe4\xb8\xad");
  EXPECT_EQ(download::NarrowUrl(L"file:///C:/a.exe"), "file:///C:/a.exe");
}

}  // namespace
