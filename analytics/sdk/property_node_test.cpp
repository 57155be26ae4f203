#include "analytics/sdk/property_node.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "analytics/sdk/test_support.h"

namespace analytics_core {
namespace {

using testing::StderrCapture;

TEST(Utf8Check, AcceptsWellFormedTextAndRefusesTheRest) {
  const struct {
    const char* bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii ~", true},
      {"\t\r\n", true},
      {"\xC3\xA9", true},                  // é
      {"\xE4\xB8\xAD\xE6\x96\x87", true},  // 中文
      {"\xF0\x9F\x98\x80", true},          // U+1F600
      {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
      {"\xED\x9F\xBF", true},              // U+D7FF
      {"\xC3\x28", false},
      {"\xED\xA0\x80", false},      // an encoded surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"a\x1F", false},
      {"a\x7F", false},
      {"\xC0\xAF", false},      // over-long
      {"\xE0\x80\xAF", false},  // over-long
      {"\xE4\xB8", false},      // cut off by the end
      {"\x80", false},
      {"\xF5\x80\x80\x80", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(PropertiesNode, StringChecksKeepBadTextOut) {
  StderrCapture err;
  PropertiesNode node;
  EXPECT_TRUE(node.SetString("max", std::string(8192, 'x')));
  EXPECT_FALSE(node.SetString("long", std::string(8193, 'x')));
  EXPECT_EQ(err.Take(), "String property 'long' is too long, value: " + std::string(8193, 'x') + "\n");
  EXPECT_FALSE(node.SetString("bad", "a\xC3\x28"));
  EXPECT_EQ(err.Take(), "String property 'bad' is not valid UTF-8 string, value: a\xC3\x28\n");
  node.SetString("kept", "old");
  EXPECT_FALSE(node.SetString("kept", "\x01"));  // a refused text leaves the old value
  EXPECT_NE(node.Find("max"), nullptr);
  EXPECT_EQ(node.Find("long"), nullptr);
  EXPECT_EQ(node.Find("bad"), nullptr);
  EXPECT_EQ(node.Find("kept")->text(), "old");
}

TEST(PropertiesNode, JsonTextIsCompactInByteOrderOfKeys) {
  PropertiesNode node;
  node.SetInteger("b", 1);
  node.SetInteger("A", 2);
  node.SetInteger("_c", 3);
  node.SetInteger("$d", 4);
  EXPECT_EQ(node.ToJson(), R"({"$d":4,"A":2,"_c":3,"b":1})");
}

TEST(PropertiesNode, JsonValuesOfEveryKind) {
  const struct {
    PropertyValue value;
    const char* json;
  } cases[] = {
      {PropertyValue(0.1 + 0.2), "0.3"},
      {PropertyValue(0.5), "0.5"},
      {PropertyValue(100.0), "100"},
      {PropertyValue(1234567.0), "1.23457e+06"},
      {PropertyValue(1e-5), "1e-05"},
      {PropertyValue(-2.5e300), "-2.5e+300"},
      {PropertyValue(-2.5e-7), "-2.5e-07"},
      {PropertyValue(std::numeric_limits<double>::infinity()), "null"},  // a JSON reader cannot take inf
      {PropertyValue(int64_t{1700000000123}), "1700000000123"},
      {PropertyValue(int32_t{-7}), "-7"},
      {PropertyValue(true), "true"},
      {PropertyValue(false), "false"},
      {PropertyValue("q\"b\\n\n\x01\b\f\r\t\xE4\xB8\xAD"), "\"q\\\"b\\\\n\\n\x01\\b\\f\\r\\t\xE4\xB8\xAD\""},
      {PropertyValue(std::vector<std::string>{"a", "b\"", ""}), R"(["a","b\"",""])"},
      {PropertyValue(std::vector<std::string>{}), "[]"},
      {PropertyValue(), ""},
  };
  for (const auto& c : cases) {
    std::string out;
    c.value.AppendJson(out);
    EXPECT_EQ(out, c.json);
  }
  PropertiesNode inner;
  inner.SetString("k", "v");
  PropertiesNode outer;
  outer.SetValue("o", PropertyValue(inner));
  inner.SetString("k", "changed later");  // the stored object is a copy
  EXPECT_EQ(outer.ToJson(), R"({"o":{"k":"v"}})");
}

TEST(PropertiesNode, DateTimeIsLocalTimeWithMilliseconds) {
  // The epoch in local time, computed by Windows independently.
  SYSTEMTIME utc = {1970, 1, 4, 1, 0, 0, 0, 0}, local = {};
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  char want[64];
  std::snprintf(want, sizeof want, "\"%04d-%02d-%02d %02d:%02d:%02d.005\"", local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond);
  std::string out;
  PropertyValue::DateTime(0, 5).AppendJson(out);
  EXPECT_EQ(out, want);
}

TEST(PropertiesNode, MergeReplacesEqualKeysAndKeepsTheOthers) {
  PropertiesNode into, from;
  into.SetInteger("b", 9);
  into.SetInteger("c", 3);
  from.SetInteger("a", 1);
  from.SetInteger("b", 2);
  into.Merge(from);
  EXPECT_EQ(into.ToJson(), R"({"a":1,"b":2,"c":3})");
}

}  // namespace
}  // namespace analytics_core
