#include "download/web_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WebPage, TypesThatAreWebPages) {
  const struct {
    const char* type;
    bool page;
  } cases[] = {
      {"text/html", true},
      {"Text/HTML; charset=utf-8", true},
      {" text/html ;charset=gbk", true},
      {"text/htmlx", false},
      {"text/plain", false},
      {"application/octet-stream", false},
      {"application/x-msdownload", false},
      {"", false},
      {nullptr, false},
  };
  for (const auto& c : cases) EXPECT_EQ(download::IsWebPageType(c.type), c.page) << (c.type ? c.type : "(null)");
}

TEST(WebPage, FirstBytesThatAreWebPages) {
  const struct {
    std::string bytes;
    bool page;
  } cases[] = {
      {"<!DOCTYPE html><html><body>Sign in</body></html>", true},
      {"\xEF\xBB\xBF\r\n  <html lang=\"zh\">", true},
      {"<HTML>", true},
      {"<!doc", true},  // a first chunk that ends inside the marker
      {"MZ\x90\x00\x03", false},
      {"7z\xBC\xAF\x27\x1C", false},
      {"<?xml version=\"1.0\"?>", false},
      {"<!DOCTYPE svg>", false},
      {"   ", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(download::StartsLikeWebPage(c.bytes.data(), c.bytes.size()), c.page) << c.bytes;
}

}  // namespace
