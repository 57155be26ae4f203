// Runs the built installer exe as a real process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/startup.h"
#include "install/exit_code.h"
#include "platform/handles.h"
#include "platform/log.h"
#include "platform/strings.h"
#include "tests/support/test_support.h"
#include "tools/dbwin/dbwin_listener.h"

namespace {

std::wstring ThisFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L'\\'));
}

// The exit code of a window closed before any installation was tried.
constexpr DWORD kClosed = static_cast<DWORD>(ExitCode::kCancelled);

// A private copy of the exe in its own folder, so a settings file can sit beside it.
class InstallerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"ov_startup_test";
    CreateDirectoryW(dir_.c_str(), nullptr);
    exe_ = dir_ + L"\\OndraVelqorSetup.exe";
    ASSERT_TRUE(CopyFileW((ThisFolder() + L"\\OndraVelqorSetup.exe").c_str(), exe_.c_str(), FALSE));
  }
  void TearDown() override {
    DeleteFileW((dir_ + L"\\PelanInstallerConfig.ini").c_str());
    DeleteFileW(exe_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  // Runs the exe with the given arguments; returns its exit code and pid.
  DWORD Run(const std::wstring& args, DWORD* pid = nullptr) {
    return test_support::RunInstaller(L"\"" + exe_ + L"\" " + args, pid);
  }
  std::wstring dir_, exe_;
};

TEST_F(InstallerProcess, SecondInstanceExitsWithMinusOneSilently) {
  const Utils::UniqueHandle held(CreateMutexW(nullptr, TRUE, SingleInstanceGuard::MutexName()));
  ASSERT_TRUE(held);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  DWORD pid = 0;
  EXPECT_EQ(Run(L"-downloadtype=2", &pid), 0xFFFFFFFFu);
  for (const auto& l : listener.Lines()) EXPECT_NE(l.pid, pid) << "a second instance logs nothing: " << l.text;
  ReleaseMutex(held.get());
}

// The installer is usually started from a downloads folder, where a web
// page can drop files. A DLL named like a system DLL beside it is never
// loaded, whether the exe imports that DLL, start-up preloads it or a
// library loads it later. Wine, unlike Windows, prefers its own built-in
// DLLs; this test's environment (WINEDLLOVERRIDES, app/CMakeLists.txt) makes
// it look beside the exe first for the names dropped, as Windows does.
TEST_F(InstallerProcess, DllsDroppedBesideTheExeAreNeverLoaded) {
  std::vector<std::wstring> names;  // the names the test's environment covers
  for (std::wstring list = Utils::Utf8ToWide(OV_DROPPED_DLLS); !list.empty();) {
    const size_t comma = std::min(list.find(L','), list.size());
    names.push_back(list.substr(0, comma));
    list.erase(0, comma + 1);
  }
  ASSERT_FALSE(names.empty());
  std::wstring planted = L"Z:" + Utils::Utf8ToWide(OV_PLANTED_DLL);  // a host path
  std::replace(planted.begin(), planted.end(), L'/', L'\\');
  for (const std::wstring& name : names)
    ASSERT_TRUE(CopyFileW(planted.c_str(), (dir_ + L"\\" + name + L".dll").c_str(), FALSE));
  // Up to the single-instance check: start-up's preloading has run then.
  Utils::UniqueHandle held(CreateMutexW(nullptr, TRUE, SingleInstanceGuard::MutexName()));
  const DWORD exitCode = Run(L"");
  held.reset();
  EXPECT_EQ(exitCode, static_cast<DWORD>(-1));
  for (const std::wstring& name : names) {
    const std::wstring dll = dir_ + L"\\" + name + L".dll";
    EXPECT_EQ(GetFileAttributesW((dll + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES) << Utils::WideToUtf8(name);
    DeleteFileW((dll + L".loaded").c_str());
    DeleteFileW(dll.c_str());
  }
}

TEST_F(InstallerProcess, AppliesFileThenCommandLineAndReleasesTheMutex) {
  std::ofstream((dir_ + L"\\PelanInstallerConfig.ini").c_str())
      << "[Install]\nDownloadType=3\nDownloadScale=0.5\nIsCheckNet=false\nInstCmd=/fromfile\n";
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  DWORD pid = 0;
  EXPECT_EQ(Run(LR"(-downloadtype=2 -downloadtype=9 "-instcmd=/a /b" -insnew=true -language=1)", &pid), kClosed);
  ASSERT_TRUE(listener.WaitFor("settings:", 10000, pid));
  std::string line;
  for (const auto& l : listener.Lines())
    if (l.pid == pid && l.text.find("settings:") != std::string::npos) line = l.text;
  EXPECT_NE(line.find("DownloadType=2 "), std::string::npos) << line;
  EXPECT_NE(line.find("DownloadScale=0.500000 "), std::string::npos) << line;
  EXPECT_NE(line.find("IsCheckNet=0 "), std::string::npos) << line;
  EXPECT_NE(line.find("InsNew=1 "), std::string::npos) << line;
  EXPECT_NE(line.find("LanguageIndex=1 "), std::string::npos) << line;
  EXPECT_NE(line.find("InstCmd=/a /b "), std::string::npos) << line;
  EXPECT_NE(line.find("HttpReady=1"), std::string::npos) << line;
  EXPECT_NE(line.find("(RunInstaller)"), std::string::npos) << line;

  // The exited installer no longer holds the guard: a new one may start.
  {
    const Utils::UniqueHandle after(CreateMutexW(nullptr, TRUE, SingleInstanceGuard::MutexName()));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  }
  EXPECT_EQ(Run(L""), kClosed);
}

std::string FileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Support asks for the log file: the same lines as the debugger output, the
// previous run's kept beside, "-log=" choosing the place.
TEST_F(InstallerProcess, WritesItsLogFileAndKeepsThePreviousRun) {
  const std::wstring logs = dir_ + L"\\logs", chosen = logs + L"\\setup.log";
  DebugOutputListener listener;
  ASSERT_TRUE(listener.Start());
  DWORD first = 0, second = 0, third = 0;
  EXPECT_EQ(Run(L"\"-log=" + chosen + L"\"", &first), kClosed);
  EXPECT_EQ(Run(L"\"-log=" + chosen + L"\"", &second), kClosed);
  EXPECT_EQ(Run(L"", &third), kClosed);
  ASSERT_TRUE(listener.WaitFor("settings:", 10000, third));
  auto settingsLine = [&listener](DWORD pid) {  // without its line end
    for (const auto& l : listener.Lines())
      if (l.pid == pid && l.text.find("settings:") != std::string::npos)
        return l.text.substr(0, l.text.find_last_not_of("\r\n") + 1);
    return std::string();
  };
  const std::string previous = FileText(logs + L"\\setup.1.log"), current = FileText(chosen);
  const std::string line = settingsLine(second);
  ASSERT_FALSE(line.empty());
  EXPECT_NE(current.find(line + "\r\n"), std::string::npos) << "the file holds the debugger's line:\n" << line;
  EXPECT_EQ(current.find(settingsLine(first)), std::string::npos) << current;
  EXPECT_NE(previous.find(settingsLine(first) + "\r\n"), std::string::npos) << previous;
  const std::string byDefault = FileText(Utils::DefaultLogFilePath());
  EXPECT_NE(byDefault.find(settingsLine(third)), std::string::npos) << Utils::WideToUtf8(Utils::DefaultLogFilePath());
  test_support::RemoveTree(logs);
}

TEST(SingleInstanceGuard, SecondGuardInTheSameSessionGetsNothing) {
  SingleInstanceGuard first, second;
  first.Acquire();
  ASSERT_NE(first.handle(), nullptr);
  second.Acquire();
  EXPECT_EQ(second.handle(), nullptr);
  first.Release();
  second.Acquire();
  EXPECT_NE(second.handle(), nullptr);
}

TEST(PreloadSystemLibraries, MissingLibrariesDoNotStopStartUp) {
  PreloadSystemLibraries();  // ws2help.dll and d3d8.dll may not exist
  EXPECT_NE(GetModuleHandleW(L"version.dll"), nullptr);
  // The current directory is no longer searched.
  wchar_t dir[8] = L"x";
  EXPECT_EQ(GetDllDirectoryW(8, dir), 0u);
  EXPECT_STREQ(dir, L"");
}

}  // namespace

namespace {

// The shipped exe: this build's own, or the i686 one named by OV_SHIPPED_EXE
// when this build is the x86_64 one (resources load across bitness).
std::wstring ShippedExe() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"OV_SHIPPED_EXE", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return path;
  return ThisFolder() + L"\\OndraVelqorSetup.exe";
}

std::string ManifestOf(const std::wstring& exe) {
  const Utils::UniqueLibrary module(
      LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  HRSRC manifest = module ? FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
  if (!manifest) return {};
  return std::string(static_cast<const char*>(LockResource(LoadResource(module.get(), manifest))),
                     SizeofResource(module.get(), manifest));
}

// The manifest's name for the machine in the exe's PE header.
std::string ArchitectureOf(const std::wstring& exe) {
  const Utils::UniqueHandle file(
      CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  auto read = [&file](LONG at, void* into, DWORD size) {
    DWORD got = 0;
    return SetFilePointer(file.get(), at, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ReadFile(file.get(), into, size, &got, nullptr) && got == size;
  };
  IMAGE_DOS_HEADER dos = {};
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt = {};
  if (!file || !read(0, &dos, sizeof(dos)) || !read(dos.e_lfanew, &nt, sizeof(nt)) ||
      nt.signature != IMAGE_NT_SIGNATURE)
    return "unreadable";
  if (nt.header.Machine == IMAGE_FILE_MACHINE_I386) return "x86";
  if (nt.header.Machine == IMAGE_FILE_MACHINE_AMD64) return "amd64";
  return "unknown";
}

// A 64-bit process whose manifest asks for the x86 common controls gets no
// comctl32 v6 (c000007b) where both are installed: the edit box takes no
// typing and the folder browser ends the process.
TEST(ExeResources, ManifestNamesTheExesOwnArchitecture) {
  for (const std::wstring& exe : {ShippedExe(), ThisFolder() + L"\\OndraVelqorSetup.exe"}) {
    SCOPED_TRACE(Utils::WideToUtf8(exe));
    const std::string xml = ManifestOf(exe);
    ASSERT_FALSE(xml.empty());
    std::vector<std::string> named;  // the assembly itself and the common controls
    const std::string attribute = "processorArchitecture=\"";
    for (size_t at = xml.find(attribute); at != std::string::npos; at = xml.find(attribute, at + 1)) {
      const size_t begin = at + attribute.size();
      named.push_back(xml.substr(begin, xml.find('"', begin) - begin));
    }
    const std::string own = ArchitectureOf(exe);
    EXPECT_EQ(named, std::vector<std::string>(2, own));
  }
}

TEST(ExeResources, ManifestVersionIconStringsAndSkins) {
  const std::wstring exe = ShippedExe();
  const Utils::UniqueLibrary module(
      LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  const HMODULE m = module.get();
  ASSERT_NE(m, nullptr);
  EXPECT_NE(FindResourceW(m, MAKEINTRESOURCEW(145), MAKEINTRESOURCEW(14)), nullptr) << "icon group 145";
  // Its images are PNG-compressed (tools/pngicon): the sizes that were
  // bitmaps still load. (Wine refuses the 256-pixel one, a 16-bit PNG as it
  // has always been.)
  for (int size : {16, 32, 48}) {
    const HICON icon = static_cast<HICON>(LoadImageW(m, MAKEINTRESOURCEW(145), IMAGE_ICON, size, size, 0));
    EXPECT_NE(icon, nullptr) << "icon of " << size << " pixels";
    if (icon) DestroyIcon(icon);
  }
  wchar_t text[64] = {};
  EXPECT_GT(LoadStringW(m, 103, text, 64), 0);
  EXPECT_STREQ(text, L"OndraVelqor");
  EXPECT_GT(LoadStringW(m, 111, text, 64), 0);
  EXPECT_STREQ(text, L"OndraVelqor");

  const std::string xml = ManifestOf(exe);
  ASSERT_FALSE(xml.empty());
  EXPECT_NE(xml.find("level=\"requireAdministrator\""), std::string::npos);
  for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                         "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(xml.find(os), std::string::npos) << os;
  // DPI awareness: Wine gives every process the screen's DPI, aware or not
  // (docs/wine.md), so only this check sees the declaration Windows needs.
  for (const char* dpi : {">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>"})
    EXPECT_NE(xml.find(dpi), std::string::npos) << dpi;
  // The skin archive: a 7z archive under the custom type "SKINRES", id 147.
  HRSRC skins = FindResourceW(m, MAKEINTRESOURCEW(147), L"SKINRES");
  ASSERT_NE(skins, nullptr);
  const std::string archive(static_cast<const char*>(LockResource(LoadResource(m, skins))), SizeofResource(m, skins));
  EXPECT_EQ(archive.substr(0, 6), std::string("7z\xBC\xAF\x27\x1C", 6));

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
  for (auto [key, want] : {std::pair{L"ProductName", L"OndraVelqor"}, std::pair{L"ProductVersion", L"1.7.9"}}) {
    wchar_t* value = nullptr;
    UINT len = 0;
    const std::wstring q = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
    ASSERT_TRUE(VerQueryValueW(info.data(), q.c_str(), reinterpret_cast<void**>(&value), &len));
    EXPECT_STREQ(value, want);
  }
}

}  // namespace
