#include "platform/sysinfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>

namespace {

TEST(WindowsVersionLabel, WholeTable) {
  struct Case {
    unsigned major, minor, build;
    bool r2;
    const wchar_t* label;
  } cases[] = {
      {0, 0, 0, false, L"XP-"},
      {4, 10, 1998, false, L"XP-"},
      {5, 0, 2195, false, L"2K"},
      {5, 1, 2600, false, L"XP"},
      {5, 2, 3790, false, L"Server 2003"},
      {5, 2, 3790, true, L"Server 2003 R2"},
      {5, 3, 0, false, L"XP+"},
      {5, 9, 0, false, L"XP+"},
      {6, 0, 6002, false, L"Vista"},
      {6, 1, 7601, false, L"7"},
      {6, 2, 9200, false, L"8"},
      {6, 3, 9600, false, L"8.1"},
      {6, 4, 0, false, L"8.1+"},
      {6, 9, 0, false, L"8.1+"},
      {10, 0, 19045, false, L"10"},
      {10, 0, 22631, false, L"10"},  // Windows 11 reports 10.0
      {10, 1, 0, false, L"10+"},
      {11, 0, 22000, false, L"11.0.22000"},
      {7, 2, 5, false, L"7.2.5"},
      {12, 3, 65535, false, L"12.3.65535"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Utils::WindowsVersionLabel(c.major, c.minor, c.build, c.r2), c.label)
        << c.major << "." << c.minor << "." << c.build;
}

TEST(WindowsVersion, NamesTheRunningSystem) {
  std::wstring system = L"x", label = L"y";
  Utils::GetWindowsVersion(system, label);
  EXPECT_EQ(system, L"Windows");
  EXPECT_FALSE(label.empty());
  EXPECT_NE(label, L"XP-");
}

TEST(Guid, ThirdGroupLowerCaseRestUpper) {
  const GUID g = {0xABCDEF01, 0xA1B2, 0xAFCF, {0xDE, 0xAD, 0xBE, 0xEF, 0x0A, 0x1B, 0x2C, 0x3D}};
  EXPECT_EQ(Utils::FormatGuidString(g), L"ABCDEF01A1B2afcfDEADBEEF0A1B2C3D");
  const std::wstring fresh = Utils::CreateGuidString();
  ASSERT_EQ(fresh.size(), 32u);
  for (size_t i = 0; i < fresh.size(); ++i) {
    ASSERT_TRUE(iswxdigit(fresh[i]));
    if (i >= 12 && i < 16)
      EXPECT_FALSE(iswupper(fresh[i])) << i;
    else
      EXPECT_FALSE(iswlower(fresh[i])) << i;
  }
  EXPECT_NE(fresh, Utils::CreateGuidString());
}

TEST(SystemQueries, AnswerWithoutFailing) {
  // "Windows is 64-bit", from a 32-bit process (WOW64) and from a 64-bit
  // one alike: it must match the system's native architecture (a 32-bit
  // Wine prefix is a 32-bit system, a 64-bit prefix a 64-bit one).
  SYSTEM_INFO native = {};
  GetNativeSystemInfo(&native);
  EXPECT_EQ(Utils::IsWow64(), native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
  (void)Utils::IsAdmin();
  std::wstring user = L"prefix:";
  if (Utils::GetConsoleUserName(user)) {
    EXPECT_EQ(user.rfind(L"prefix:", 0), 0u) << "the name is appended";
    (void)Utils::IsUserAdmin(user.substr(7));
  }
  EXPECT_FALSE(Utils::IsUserAdmin(L"no-such-user-ondravelqor"));
}

}  // namespace
