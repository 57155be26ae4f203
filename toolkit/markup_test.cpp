#include "toolkit/markup.h"

#include <gtest/gtest.h>

namespace skin {
namespace {

TEST(Markup, ReadsElementsAttributesAndEntities) {
  Markup m;
  ASSERT_TRUE(
      m.Parse(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- skin -->\n"
              L"<Window size=\"600,400\" caption='0,0,0,35'>\n"
              L"  <Font id=\"0\" name=\"微软雅黑\"/>\n"
              L"  <!-- a comment between children -->\n"
              L"  <Label text=\"a &amp; b &lt;c&gt; &#x4E2D;&#25991;\"></Label>\n"
              L"</Window>\n"))
      << m.ErrorMessage();
  const MarkupNode* root = m.Root();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->name, L"Window");
  ASSERT_EQ(root->attributes.size(), 2u);
  EXPECT_EQ(root->attributes[1].first, L"caption");
  EXPECT_EQ(*root->Attribute(L"caption"), L"0,0,0,35");
  ASSERT_EQ(root->children.size(), 2u);
  EXPECT_EQ(*root->children[0].Attribute(L"name"), L"微软雅黑");
  EXPECT_EQ(*root->children[1].Attribute(L"text"), L"a & b <c> 中文");
  EXPECT_EQ(root->children[1].Attribute(L"Text"), nullptr);  // names are case-sensitive
}

TEST(Markup, ErrorsUseTheFixedMessages) {
  struct Case {
    const wchar_t* text;
    const wchar_t* message;
  } cases[] = {
      {L"", L"Expected start tag"},
      {L"just text", L"Expected start tag"},
      {L"< Window/>", L"Error parsing element name"},
      {L"<Window size=\"1\"", L"Expected start-tag closing"},
      {L"<Window !/>", L"Expected start-tag closing"},
      {L"<Window>", L"Expected end-tag start"},
      {L"<Window></Windows>", L"Unmatched closing tag"},
      {L"<Window a=\"1\" !=\"2\"/>", L"Error while parsing attributes"},
      {L"<Window a \"1\"/>", L"Error while parsing attributes"},
      {L"<Window a=1/>", L"Expected attribute value"},
      {L"<Window a=\"1/>", L"Error while parsing attribute string"},
      {L"<Window a=\"&bogus;\"/>", L"Error while parsing attribute string"},
  };
  for (const Case& c : cases) {
    Markup m;
    EXPECT_FALSE(m.Parse(c.text)) << c.text;
    EXPECT_STREQ(m.ErrorMessage(), c.message) << c.text;
    EXPECT_EQ(m.Root(), nullptr);
  }
}

TEST(Markup, DeepNestingIsRefusedNotFollowed) {
  std::wstring deep;
  for (int i = 0; i < 100000; ++i) deep += L"<a>";
  Markup m;
  EXPECT_FALSE(m.Parse(deep));
}

TEST(Markup, DecodesTheThreeEncodings) {
  const std::string utf8 = "<W t=\"\xE4\xB8\xAD\"/>";
  std::wstring plain, bom;
  ASSERT_TRUE(DecodeSkinText(utf8, TextEncoding::kUtf8, &plain));
  ASSERT_TRUE(DecodeSkinText("\xEF\xBB\xBF" + utf8, TextEncoding::kUtf8, &bom));
  EXPECT_EQ(plain, bom);
  EXPECT_EQ(plain, L"<W t=\"中\"/>");

  const std::string le("\xFF\xFE<\0W\0", 6), be("\xFE\xFF\0<\0W", 6);
  std::wstring text;
  ASSERT_TRUE(DecodeSkinText(le, TextEncoding::kUtf16, &text));
  EXPECT_EQ(text, L"<W");
  ASSERT_TRUE(DecodeSkinText(be, TextEncoding::kUtf16, &text));
  EXPECT_EQ(text, L"<W");
  EXPECT_FALSE(DecodeSkinText(std::string("<\0W\0", 4), TextEncoding::kUtf16, &text));  // no mark
}

}  // namespace
}  // namespace skin
