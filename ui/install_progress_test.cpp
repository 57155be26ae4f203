#include "ui/install_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "toolkit/resources.h"

namespace {

TEST(ProgressPercent, DownloadShareOfTheBar) {
  struct Case {
    double fraction, scale;
    int percent;
  } cases[] = {{0.5, 0.7, 35}, {1.0, 0.7, 70}, {0.999, 0.7, 69}, {0.5, 0.0, 0}, {1.0, 1.0, 100}, {0.0, 0.7, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(DownloadPercent(c.fraction, c.scale), c.percent) << c.fraction << " " << c.scale;
}

TEST(ProgressPercent, PackageProgressMovesOnAtLeastFifteenPercentUntilNinetyFive) {
  double smoothed = 0;
  std::vector<int> shown;
  for (int i = 0; i < 8; ++i) shown.push_back(InstallPercent(smoothed, 0, 0.7));
  EXPECT_EQ(shown, (std::vector<int>{74, 78, 83, 88, 92, 97, 98, 98}));  // 78.999... is truncated
  EXPECT_EQ(InstallPercent(smoothed, 1.0, 0.7), 100);
  double fresh = 0;
  EXPECT_EQ(InstallPercent(fresh, 0.6, 0.0), 60) << "the package's own fraction when it is ahead";
}

TEST(ProgressText, FormatsBySkinDataAndElapsedTime) {
  EXPECT_EQ(ProgressText(L"", true, 61000, 35), L"正在安装中:35%，请耐心等待...");
  EXPECT_EQ(ProgressText(L"", true, 60000, 35), L"正在安装中:35%，请稍候...");
  EXPECT_EQ(ProgressText(L"", false, 999999, 35), L"正在安装中:35%，请稍候...");
  EXPECT_EQ(ProgressText(L"Installing %d%%", false, 0, 7), L"Installing 7%");
  // Skin data is outside input: a second conversion or a string one is shown as it is.
  EXPECT_EQ(ProgressText(L"%d %s %d %n", false, 0, 7), L"7 %s %d %n");
}

TEST(Languages, CodesAndWindowsIdentifiers) {
  EXPECT_STREQ(LanguageCode(0), L"en-US");
  EXPECT_STREQ(LanguageCode(13), L"it-IT");
  EXPECT_EQ(LanguageCode(14), nullptr);
  EXPECT_EQ(LanguageCode(-1), nullptr);
  EXPECT_EQ(LanguageIndexOfCode(L"zh-CN"), 1);
  EXPECT_EQ(LanguageIndexOfCode(L"xx-XX"), -1);
  struct Case {
    LANGID id;
    int index;
  } cases[] = {{1033, 0},  {1028, 2},  {2052, 0},  {1057, 3},  {1055, 4}, {1031, 5}, {1036, 6},
               {1034, 7},  {2058, 7},  {20490, 7}, {3083, 0},  {1046, 8}, {1041, 9}, {1042, 10},
               {1045, 11}, {1043, 12}, {2067, 12}, {1040, 13}, {0, 0}};
  for (const Case& c : cases) EXPECT_EQ(LanguageIndexForLangId(c.id), c.index) << c.id;
}

TEST(Languages, TextsOfOneLanguageFromTheJsonList) {
  skin::ClearLanguageTexts();
  const std::string json =
      R"([{"id": 104, "en-US": "Not enough space", "zh-CN": "空间不足"}, {"id": "x", "en-US": "skipped"},)"
      R"( {"id": 7, "zh-CN": "only Chinese"}, 5, {"id": 8, "en-US": 3}])";
  EXPECT_EQ(LoadLanguageTexts(json, 1), 2);
  std::wstring text;
  ASSERT_TRUE(skin::GetLanguageText(104, &text));
  EXPECT_EQ(text, L"空间不足");
  EXPECT_EQ(LoadLanguageTexts(json, 0), 1);
  ASSERT_TRUE(skin::GetLanguageText(104, &text));
  EXPECT_EQ(text, L"Not enough space");
  EXPECT_EQ(LoadLanguageTexts("{not json", 0), 0);
  EXPECT_EQ(LoadLanguageTexts(json, 99), 0);
  skin::ClearLanguageTexts();
}

// Files in use lean on how leniently language.json has always been read.
TEST(Languages, ReadsTheFilesInUseAsBefore) {
  struct Case {
    const char* what;
    std::string json;
    int stored;
    std::vector<std::pair<int, std::wstring>> texts;
  } cases[] = {
      {"byte order mark, comments, trailing commas, text after the document",
       "\xEF\xBB\xBF// texts\n[{\"id\": 1, \"en-US\": \"a\",}, /* \"b\" */] trailing",
       1,
       {{1, L"a"}}},
      {"raw control characters inside a text, a quote inside a comment",
       "[// say \"hi\n{\"id\": 2, \"en-US\": \"two\nlines\tand\x01\"}]",
       1,
       {{2, L"two\nlines\tand\x01"}}},
      {"integral numbers are ids, others are not",
       R"([{"id": 104.0, "en-US": "a"}, {"id": 1e2, "en-US": "b"}, {"id": 1.5, "en-US": "c"},)"
       R"( {"id": 2147483648, "en-US": "d"}, {"id": -2147483648, "en-US": "e"}])",
       3,
       {{104, L"a"}, {100, L"b"}, {1, L""}, {-2147483647 - 1, L"e"}}},
      {"the last of equal names counts",
       R"([{"id": 3, "en-US": "first", "en-US": "last"}, {"id": 4, "en-US": "x", "en-US": 5}])",
       1,
       {{3, L"last"}, {4, L""}}},
      {"an object's values in the order of their names, equal names once",
       R"({"b": {"id": 5, "en-US": "from b"}, "a": {"id": 5, "en-US": "from a"}, "b": {"id": 6, "en-US": "b again"}})",
       2,
       {{5, L"from a"}, {6, L"b again"}}},
      {"unterminated", R"([{"id": 7, "en-US": "a"})", 0, {{7, L""}}},
      {"a control character outside a string", "[\x01{\"id\": 7, \"en-US\": \"a\"}]", 0, {{7, L""}}},
      {"nested deeper than any text list",
       std::string(1001, '[') + R"({"id": 7, "en-US": "a"})" + std::string(1001, ']'),
       0,
       {{7, L""}}},
  };
  for (const Case& c : cases) {
    skin::ClearLanguageTexts();
    EXPECT_EQ(LoadLanguageTexts(c.json, 0), c.stored) << c.what;
    for (const auto& [id, want] : c.texts) {
      std::wstring text;
      EXPECT_EQ(skin::GetLanguageText(id, &text), !want.empty()) << c.what << ": " << id;
      EXPECT_EQ(text, want) << c.what << ": " << id;
    }
  }
  skin::ClearLanguageTexts();
}

}  // namespace
