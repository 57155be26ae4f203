#include "platform/strings.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(Strings, LeadingNumberReads) {
  struct Case {
    const wchar_t* text;
    int integer;
    double real;
  } cases[] = {
      {L"42", 42, 42.0},
      {L"  -7x", -7, -7.0},
      {L"abc", 0, 0.0},
      {L"", 0, 0.0},
      {L"0.35", 0, 0.35},
      {L"+5", 5, 5.0},
      {L"99999999999", INT_MAX, 99999999999.0},
      {L" 2.5e3%", 2, 2500.0},
      // Words and hexadecimal are no numbers to the runtime.
      {L"inf", 0, 0.0},
      {L"nan", 0, 0.0},
      {L"0x1p4", 0, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utils::ParseLeadingInt(c.text), c.integer) << c.text;
    EXPECT_DOUBLE_EQ(Utils::ParseLeadingDouble(c.text), c.real) << c.text;
  }
}

}  // namespace
