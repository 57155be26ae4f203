#include "platform/paths.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "platform/handles.h"
#include "tests/support/test_support.h"

namespace {

using test_support::RemoveTree;

Utils::UniqueRegistryKey OpenKey() {
  Utils::UniqueRegistryKey key;
  RegOpenKeyExW(HKEY_CURRENT_USER, Utils::kProductRegKey, 0, KEY_ALL_ACCESS, key.put());
  return key;
}

TEST(Registry, StoresTextWithoutTerminatorAndReadsItBack) {
  const std::wstring text = L"C:\\Program Files\\OndraVelqor\\ab.e";  // 33 characters
  ASSERT_EQ(text.size(), 33u);
  ASSERT_TRUE(Utils::SetRegValue(L"TestValue", text));
  const Utils::UniqueRegistryKey owned = OpenKey();
  const HKEY key = owned.get();
  ASSERT_NE(key, nullptr);
  DWORD type = 0, bytes = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"TestValue", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // We pass exactly 66 bytes; the system itself appends a terminator when
  // the character after the counted data is a null (NT does, Wine copies it).
  EXPECT_TRUE(bytes == 66u || bytes == 68u) << bytes;
  std::wstring back;
  EXPECT_TRUE(Utils::GetRegValue(L"TestValue", back));
  EXPECT_EQ(back, text);

  // Data written by someone else with a terminator reads the same.
  const wchar_t withNull[] = L"abc";
  RegSetValueExW(key, L"TestValue", 0, REG_SZ, reinterpret_cast<const BYTE*>(withNull), sizeof(withNull));
  EXPECT_TRUE(Utils::GetRegValue(L"TestValue", back));
  EXPECT_EQ(back, L"abc");
  // Data stored without a terminator (the next character is not null, so
  // nothing is appended) reads without running past it.
  RegSetValueExW(key, L"TestValue", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"xyzQ"), 6);
  EXPECT_TRUE(Utils::GetRegValue(L"TestValue", back));
  EXPECT_EQ(back, L"xyz");
  // An odd byte count (a cut character) must not read past the data either.
  RegSetValueExW(key, L"TestValue", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"xyzQ"), 5);
  EXPECT_TRUE(Utils::GetRegValue(L"TestValue", back));
  EXPECT_EQ(back.substr(0, 2), L"xy");
  RegDeleteValueW(key, L"TestValue");
}

TEST(Registry, MissingValueLeavesStringUntouched) {
  std::wstring text = L"unchanged";
  EXPECT_FALSE(Utils::GetRegValue(L"NoSuchValue-ondravelqor", text));
  EXPECT_EQ(text, L"unchanged");
}

TEST(IsFullyQualifiedPath, OnlyDriveAbsoluteAndSharePathsPass) {
  const struct {
    const wchar_t* path;
    bool qualified;
  } cases[] = {
      {L"C:\\Apps\\ONVelqor", true},
      {L"d:/Apps", true},
      {L"C:\\", true},
      {L"\\\\server\\share\\Apps", true},
      {L"\\\\server\\share", true},
      {L"//server/share/Apps", true},
      {L"", false},
      {L"   ", false},
      {L"   \\ONVelqor", false},  // whitespace-only text with the product folder appended
      {L"\\ONVelqor", false},     // the current drive's root
      {L"relative dir\\sub\\ONVelqor", false},
      {L".\\Apps", false},
      {L"C:", false},
      {L"C:Apps", false},  // that drive's current folder
      {L" C:\\Apps", false},
      {L"1:\\Apps", false},
      {L"\\\\", false},
      {L"\\\\server", false},
      {L"\\\\server\\", false},
      {L"\\\\server\\\\share", false},
      {L"\\\\.\\PhysicalDrive0", false},
      {L"\\\\?\\C:\\Apps", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Utils::IsFullyQualifiedPath(c.path), c.qualified) << "'" << c.path << "'";
}

std::wstring ScratchRoot() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"ov_paths_test";
}

TEST(CreateDirectories, CreatesEachMissingLevel) {
  const std::wstring root = ScratchRoot();
  RemoveTree(root);
  std::vector<std::wstring> created;
  EXPECT_TRUE(Utils::CreateDirectories(root + L"\\a\\b\\c", &created));
  EXPECT_TRUE(PathIsDirectoryW((root + L"\\a\\b\\c").c_str()));
  // What was made, outermost first: what an installer that fails may take away again.
  EXPECT_EQ(created, (std::vector<std::wstring>{root, root + L"\\a", root + L"\\a\\b", root + L"\\a\\b\\c"}));
  // Trailing "\": up to it and nothing more.
  EXPECT_TRUE(Utils::CreateDirectories(root + L"\\x\\y\\"));
  EXPECT_TRUE(PathIsDirectoryW((root + L"\\x\\y").c_str()));
  // Existing path: still true.
  created.clear();
  EXPECT_TRUE(Utils::CreateDirectories(root + L"\\a\\b\\c", &created));
  EXPECT_TRUE(created.empty()) << "nothing new";
  // Too long, and a level that cannot be created (a file is in the way).
  EXPECT_FALSE(Utils::CreateDirectories(root + L"\\" + std::wstring(300, L'z')));
  Utils::UniqueHandle{CreateFileW((root + L"\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)};
  created.clear();
  EXPECT_FALSE(Utils::CreateDirectories(root + L"\\m\\no?name\\sub", &created));
  EXPECT_EQ(created, std::vector<std::wstring>{root + L"\\m"}) << "what was made before the failure";
  EXPECT_FALSE(Utils::CreateDirectories(root + L"\\file\\sub"));
  RemoveTree(root);
}

// A path on a share starts with "\\server\share\", which is no folder to
// create. Wine's "\\?\unix\" names the host's file system the same way.
TEST(CreateDirectories, StartsBelowTheRootOfAShare) {
  const std::wstring root = ScratchRoot();
  RemoveTree(root);
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  wchar_t unixPath[MAX_PATH] = {};
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* host = toUnix ? toUnix(root.c_str()) : nullptr;
  if (!host) GTEST_SKIP() << "not under Wine";
  for (int i = 0; host[i] && i < MAX_PATH - 1; ++i) unixPath[i] = host[i] == '/' ? L'\\' : host[i];
  const std::wstring share = std::wstring(L"\\\\?\\unix") + unixPath;
  EXPECT_TRUE(Utils::CreateDirectories(share + L"\\s\\t"));
  EXPECT_TRUE(PathIsDirectoryW((root + L"\\s\\t").c_str()));
  RemoveTree(root);
}

// Doubt never reads as safe: a path whose security cannot be read counts as
// writable by anyone.
TEST(WritableWithoutAdminRights, UsersFolderYesAdministratorsFolderNoUnreadableYes) {
  const std::wstring users = ScratchRoot() + L"_users", admins = ScratchRoot() + L"_admins";
  for (const auto& folder : {users, admins}) {
    test_support::RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const Utils::UniqueHandle file(CreateFileW((folder + L"\\settings.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
  }
  ASSERT_TRUE(test_support::RestrictToAdministrators(admins));
  EXPECT_TRUE(Utils::WritableWithoutAdminRights(users + L"\\settings.ini"));
  EXPECT_FALSE(Utils::WritableWithoutAdminRights(admins + L"\\settings.ini"));
  EXPECT_FALSE(Utils::WritableWithoutAdminRights(admins + L"\\absent.ini")) << "the folder decides for a missing file";
  EXPECT_TRUE(Utils::WritableWithoutAdminRights(users + L"\\missing\\settings.ini"));
  for (const auto& folder : {users, admins}) test_support::RemoveTree(folder);
}

TEST(TempWorkFolder, IsTheFixedFolderInTemp) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = Utils::GetTempWorkFolder();
  EXPECT_EQ(folder, std::wstring(temp) + L"~PeLanTemp.92482B06FB471E17\\");
  EXPECT_TRUE(PathIsDirectoryW(folder.c_str()));
  EXPECT_EQ(Utils::GetTempWorkFolder(), folder);  // existing folder
}

// Windows then answers GetTempPathW with the size it needs and no path;
// Wine falls back to the next variable instead. Either way the folder is
// never a relative one.
TEST(TempWorkFolder, TooLongATempPathGivesNoRelativeFolder) {
  wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
  const std::wstring longTemp = L"C:\\" + std::wstring(270, L't');
  SetEnvironmentVariableW(L"TMP", longTemp.c_str());
  SetEnvironmentVariableW(L"TEMP", longTemp.c_str());
  const std::wstring folder = Utils::GetTempWorkFolder();
  SetEnvironmentVariableW(L"TMP", savedTmp);
  SetEnvironmentVariableW(L"TEMP", savedTemp);
  EXPECT_TRUE(folder.empty() || !PathIsRelativeW(folder.c_str())) << "relative to the current directory";
}

int dispatched = 0;
LRESULT CALLBACK CountingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP) ++dispatched;
  return DefWindowProcW(h, m, w, l);
}

TEST(PumpMessages, DispatchesAndStopsAfterAboutATenthOfASecond) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.lpszClassName = L"ov_pump_test";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(L"ov_pump_test", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  SetTimer(hwnd, 1, 20, nullptr);  // keeps messages flowing so the time check runs
  PostMessageW(hwnd, WM_APP, 0, 0);
  EXPECT_TRUE(Utils::PumpMessages(hwnd));
  EXPECT_EQ(dispatched, 1);

  // A quit message ends the pump and is posted again for the main loop.
  PostQuitMessage(7);
  EXPECT_FALSE(Utils::PumpMessages(hwnd));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);

  KillTimer(hwnd, 1);
  DestroyWindow(hwnd);
  EXPECT_FALSE(Utils::PumpMessages(hwnd));  // the window has gone
}

}  // namespace
