#include "install/console_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "install/report_codes.h"

namespace {

using protocol::ChunkOutcome;

struct Expected {
  int32_t code;
  double number;
  std::wstring text;
};

enum Table { kPackage, kUninstaller };

ChunkOutcome Handle(Table table, std::string_view bytes, int codePage) {
  const std::wstring text = protocol::DecodeChunk(bytes, codePage);
  return table == kPackage ? protocol::ParsePackageText(text, codePage)
                           : protocol::ParseUninstallerText(text, codePage);
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST(ConsoleProtocol, ChunksBecomeReports) {
  const std::string progressAtTheEnd = "Message=" + Repeat('a', 1024 - 8 - 1 - 12) + "\nProgress=0.9";
  ASSERT_EQ(progressAtTheEnd.size(), 1024u);
  const std::wstring longest(771, L'x');
  struct Case {
    const char* name;
    Table table;
    std::string bytes;
    int codePage;
    std::vector<Expected> reports;
    int result;
    int nextCodePage;
  } cases[] = {
      {"progress", kPackage, "Progress=0.42\n", 0, {{2002, 0.42, L""}}, 0, 0},
      {"progress without number", kPackage, "Progress=x\n", 0, {{2002, 0, L""}}, 0, 0},
      {"progress beyond double", kPackage, "Progress=1e999\n", 0, {{2002, 0, L""}}, 0, 0},
      {"progress with CR", kPackage, "Progress=0.3\r\n", 0, {{2002, 0.3, L""}}, 0, 0},
      {"state trimmed", kPackage, "State= Success\r\n", 0, {{2003, 0, L""}}, 1, 0},
      {"lower-case key", kPackage, "state=Success\n", 0, {}, 0, 0},
      {"leading space", kPackage, " State=Success\n", 0, {}, 0, 0},
      {"unknown state word", kPackage, "State=Maybe\n", 0, {}, 0, 0},
      {"state fail", kPackage, "State=Fail\n", 0, {{2004, 0, L"安装包安装失败"}}, 1000, 0},
      {"fail then success",
       kPackage,
       "State=Fail\nState=Success\n",
       0,
       {{2004, 0, L"安装包安装失败"}, {2003, 0, L""}},
       1,
       0},
      {"success then error",
       kPackage,
       "State=Success\nError=late\n",
       0,
       {{2003, 0, L""}, {2004, 1000, L"late"}},
       1000,
       0},
      {"inst path keeps CR", kPackage, "InstPath=C:\\A\r\n", 0, {{3000, 0, L"C:\\A\r"}}, 0, 0},
      {"info keys",
       kPackage,
       "ExePath=C:\\A\\p.exe\nStartExe=C:\\A\\s.exe\nUninstExePath=C:\\A\\u.exe\nUninstExe=C:\\A\\v.exe\n"
       "UninstEp=C:\\A\\uninst.ep\nStartUrl=http://x/y\nMessage=hello\n",
       0,
       {{3001, 0, L"C:\\A\\p.exe"},
        {3001, 0, L"C:\\A\\s.exe"},
        {3002, 0, L"C:\\A\\u.exe"},
        {3002, 0, L"C:\\A\\v.exe"},
        {3003, 0, L"C:\\A\\uninst.ep"},
        {3004, 0, L"http://x/y"},
        {3009, 0, L"hello"}},
       0,
       0},
      {"value holding another key", kPackage, "Message=State=Success\n", 0, {{3009, 0, L"State=Success"}}, 0, 0},
      {"empty free text", kPackage, "Message=\n", 0, {{3009, 0, L""}}, 0, 0},
      {"771 characters", kPackage, "Message=" + Repeat('x', 771) + "\n", 0, {{3009, 0, longest}}, 0, 0},
      {"772 characters", kPackage, "Message=" + Repeat('x', 772) + "\n", 0, {{3009, 0, L""}}, 0, 0},
      {"error from the package", kPackage, "Error=disk full\n", 0, {{2004, 1000, L"disk full"}}, 1000, 0},
      {"error from the uninstaller", kUninstaller, "Error=disk full\n", 0, {{5005, 0, L"disk full"}}, 1000, 0},
      {"startup auto", kPackage, "StartupStyle=AutoStartup\n", 0, {{3005, 1, L""}}, 0, 0},
      {"startup user with CR", kPackage, "StartupStyle=UserStartup\r\n", 0, {{3005, 2, L""}}, 0, 0},
      {"startup none", kPackage, "StartupStyle=NonStartup\n", 0, {{3005, 0, L""}}, 0, 0},
      {"startup unknown", kPackage, "StartupStyle=Auto\n", 0, {{3005, 0, L""}}, 0, 0},
      {"detention -1", kPackage, "TopShowDetention=-1\n", 0, {{3007, 4294967295.0, L""}}, 0, 0},
      {"detention spelled so",
       kPackage,
       "FinsihCloseDetention=3000\nFinishCloseDetention=5\n",
       0,
       {{3008, 3000, L""}},
       0,
       0},
      {"encode 936", kPackage, "Encode=936\n", 0, {}, 0, 936},
      {"encode trimmed", kPackage, "Encode= 936 \r\n", 65001, {}, 0, 936},
      {"encode UTF8", kPackage, "Encode=UTF8\r\n", 0, {}, 0, 65001},
      {"encode ACP", kPackage, "Encode=ACP\n", 65001, {}, 0, 0},
      {"encode abc", kPackage, "Encode=abc\n", 65001, {}, 0, 0},
      {"encode beyond int", kPackage, "Encode=99999999999\n", 65001, {}, 0, 0},
      {"encode lower-case utf8", kPackage, "Encode=utf8\n", 65001, {}, 0, 0},
      {"uninstaller encode 936", kUninstaller, "Encode=936\n", 65001, {}, 0, 0},
      {"uninstaller encode UTF8", kUninstaller, "Encode=UTF8\n", 0, {}, 0, 65001},
      {"uninstaller progress", kUninstaller, "Progress=0.5\n", 0, {{5002, 0.5, L""}}, 0, 0},
      {"uninstaller success", kUninstaller, "State=Success\n", 0, {{5003, 0, L""}}, 1, 0},
      {"uninstaller fail then success",
       kUninstaller,
       "State=Fail\nState=Success\n",
       0,
       {{5005, 0, L"安装包卸载失败"}, {5003, 0, L""}},
       1,
       0},
      {"uninstaller ignores package keys", kUninstaller, "InstPath=C:\\A\nMessage=x\n", 0, {}, 0, 0},
      {"line cut by the read", kPackage, "Progress=0.2\nProgress=0.7", 0, {{2002, 0.2, L""}, {2002, 0.7, L""}}, 0, 0},
      {"fragment of the next read", kPackage, "5\n", 0, {}, 0, 0},
      {"empty lines", kPackage, "\n\n\nProgress=0.5", 0, {{2002, 0.5, L""}}, 0, 0},
      {"stops at a zero byte",
       kPackage,
       std::string("Progress=0.1\n\0Progress=0.2\n", 27),
       0,
       {{2002, 0.1, L""}},
       0,
       0},
      {"1024 bytes without zero", kPackage, progressAtTheEnd, 0, {{3009, 0, L""}, {2002, 0.9, L""}}, 0, 0},
      {"GBK text in 936", kPackage, "Message=\xd6\xd0\xce\xc4\n", 936, {{3009, 0, L"中文"}}, 0, 936},
      {"UTF-8 text", kPackage, "InstPath=C:\\\xe7\xa8\x8b\xe5\xba\x8f\n", 65001, {{3000, 0, L"C:\\程序"}}, 0, 65001},
      {"invalid UTF-8",
       kPackage,
       "Message=\xff\xfe"
       "A\n",
       65001,
       {{3009, 0,
         L"\xfffd\xfffd"
         L"A"}},
       0,
       65001},
      {"code page that does not decode", kPackage, "Progress=0.5\n", 12345, {}, 0, 12345},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChunkOutcome out = Handle(c.table, c.bytes, c.codePage);
    ASSERT_EQ(out.reports.size(), c.reports.size());
    for (size_t i = 0; i < c.reports.size(); ++i) {
      EXPECT_EQ(out.reports[i].code, c.reports[i].code) << i;
      EXPECT_EQ(out.reports[i].number, c.reports[i].number) << i;
      EXPECT_EQ(out.reports[i].text, c.reports[i].text) << i;
    }
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.codePage, c.nextCodePage);
  }
}

TEST(ConsoleProtocol, InstallVersionIsStoredNotReported) {
  struct Case {
    const char* line;
    protocol::Version version;
  } cases[] = {
      {"InstallVersion=1.7.9\n", {1, 7, 9}},
      {"InstallVersion=2.10\r\n", {2, 10, 0}},
      {"InstallVersion=x\n", {0, 0, 0}},
      {"InstallVersion=3.-1.4abc\n", {3, -1, 4}},
  };
  for (const auto& c : cases) {
    const ChunkOutcome out = Handle(kPackage, c.line, 0);
    EXPECT_TRUE(out.reports.empty()) << c.line;
    EXPECT_TRUE(out.hasVersion) << c.line;
    EXPECT_EQ(out.version, c.version) << c.line;
  }
  EXPECT_FALSE(Handle(kUninstaller, "InstallVersion=1.2.3\n", 0).hasVersion);
  EXPECT_FALSE(Handle(kPackage, "Progress=1\n", 0).hasVersion);
}

TEST(ConsoleProtocol, ReportsNameTheirKey) {
  const ChunkOutcome out = Handle(kPackage, "ExePath=C:\\a.exe\nStartExe=C:\\b.exe\n", 0);
  ASSERT_EQ(out.reports.size(), 2u);
  EXPECT_EQ(out.reports[0].key, L"ExePath=");
  EXPECT_EQ(out.reports[1].key, L"StartExe=");
}

// Random and mutated chunks for a few seconds: the parser must never crash,
// never read past the chunk, and only make reports its tables allow.
TEST(ConsoleProtocol, RandomAndMutatedChunks) {
  const std::vector<std::string> seeds = {
      "Encode=UTF8\nProgress=0.5\nInstPath=C:\\A\nState=Success\n",
      "Error=\xe7\xa8\x8b\nState=Fail\r\nTopShowDetention=-1\nFinsihCloseDetention=9\n",
      "StartupStyle=AutoStartup\nUninstEp=C:\\u.ep\nMessage=\xd6\xd0\nInstallVersion=1.2.3\nEncode=936\n",
      "Progress=" + std::string(2000, '9') + "\nStartUrl=" + std::string(800, 'u') + "\n",
  };
  const std::set<int32_t> packageCodes = {2002, 2003, 2004, 3000, 3001, 3002, 3003, 3004, 3005, 3007, 3008, 3009};
  const std::set<int32_t> uninstallerCodes = {5002, 5003, 5005};
  const int codePages[] = {0, 65001, 936, 1252, 950, 12345, -7};
  std::mt19937 rng(20240611);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  size_t count = 0, reports = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    for (int batch = 0; batch < 64; ++batch, ++count) {
      std::string chunk;
      if (rng() % 3 == 0) {
        chunk.resize(pick(protocol::kChunkBytes + 1));
        for (char& c : chunk) c = static_cast<char>(rng());
      } else {
        chunk = seeds[pick(seeds.size())];
        for (size_t m = pick(12); m > 0 && !chunk.empty(); --m) {
          switch (pick(4)) {
            case 0:
              chunk[pick(chunk.size())] = static_cast<char>(rng());
              break;
            case 1:
              chunk.insert(pick(chunk.size() + 1), 1, "\n\r\0=. -"[pick(7)]);
              break;
            case 2:
              chunk.erase(pick(chunk.size()), 1 + pick(8));
              break;
            case 3:
              chunk += seeds[pick(seeds.size())].substr(pick(20));
              break;
          }
        }
        if (chunk.size() > protocol::kChunkBytes) chunk.resize(protocol::kChunkBytes);
      }
      const int codePage = codePages[pick(std::size(codePages))];
      const std::wstring text = protocol::DecodeChunk(chunk, codePage);
      ASSERT_LE(text.size(), chunk.size());
      for (Table table : {kPackage, kUninstaller}) {
        const ChunkOutcome out = table == kPackage ? protocol::ParsePackageText(text, codePage)
                                                   : protocol::ParseUninstallerText(text, codePage);
        ASSERT_TRUE(out.result == 0 || out.result == 1 || out.result == 1000);
        const auto& allowed = table == kPackage ? packageCodes : uninstallerCodes;
        for (const auto& r : out.reports) {
          ASSERT_TRUE(allowed.count(r.code)) << r.code;
          ASSERT_TRUE(std::isfinite(r.number));
          ASSERT_LE(r.text.size(), protocol::kMaxFreeText);
        }
        reports += out.reports.size();
      }
    }
  }
  std::printf("parsed %zu random and mutated chunks (both tables), %zu reports\n", count, reports);
  RecordProperty("chunks", static_cast<int>(count));
  EXPECT_GT(count, 1000u);
}

}  // namespace
