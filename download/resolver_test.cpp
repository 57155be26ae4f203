#include "download/resolver.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ContentRange, HeaderLines) {
  const struct {
    const char* line;
    bool parsed;
    int64_t first, last, total;
  } cases[] = {
      {"Content-Range: bytes 0-0/3145728\r\n", true, 0, 0, 3145728},
      {"content-range:bytes 15728640-31457279/31457280\r\n", true, 15728640, 31457279, 31457280},
      {"Content-Range: bytes 0-0/*\r\n", true, 0, 0, -1},
      {"Content-Range: bytes 0-4294967296/8589934592\r\n", true, 0, 4294967296LL, 8589934592LL},
      {"Content-Range: bytes */3145728\r\n", false, -1, -1, -1},  // a 416's
      {"Content-Range: bytes 5-1/10\r\n", false, -1, -1, -1},
      {"Content-Range: bytes -1-0/10\r\n", false, -1, -1, -1},
      {"Content-Length: 1\r\n", false, -1, -1, -1},
  };
  for (const auto& c : cases) {
    download::ContentRange range;
    EXPECT_EQ(download::ParseContentRange(c.line, std::strlen(c.line), &range), c.parsed) << c.line;
    EXPECT_EQ(range.first, c.first) << c.line;
    EXPECT_EQ(range.last, c.last) << c.line;
    EXPECT_EQ(range.total, c.total) << c.line;
  }
}

}  // namespace
