#include "download/verify.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(UrlMd5, SecondToLastSegment) {
  struct Case {
    const char* url;
    const char* md5;
  } cases[] = {
      {"http://h/software/0123456789abcdef0123456789abcdef/pkg.exe", "0123456789abcdef0123456789abcdef"},
      {"http://h/a/b/", "b"},
      {"http://h/pkg.exe", "h"},
      {"pkg.exe", ""},
      {"/pkg.exe", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(download::UrlMd5(c.url), c.md5) << c.url;
  EXPECT_FALSE(download::HasUrlMd5("h"));
  EXPECT_TRUE(download::HasUrlMd5("0123456789abcdef0123456789abcdef"));
}

TEST(FileMd5, KnownDigestsAcrossBlockBoundariesAndUnreadableFiles) {
  const auto dir = std::filesystem::temp_directory_path() / ("ovmd5-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(dir);
  struct Case {
    std::string content;
    const char* md5;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
      // More than one read block (1 MiB).
      {std::string(3 * 1000000, 'a'), "99ddc9a3a46ea62c95652bdf937a1fb8"},
  };
  for (const Case& c : cases) {
    const auto path = dir / "f.bin";
    std::ofstream(path, std::ios::binary) << c.content;
    EXPECT_EQ(download::FileMd5(path.wstring()), c.md5) << c.content.size();
  }
  EXPECT_EQ(download::FileMd5((dir / "missing").wstring()), "");
  EXPECT_EQ(download::FileMd5(L""), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
