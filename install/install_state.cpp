#include "install/install_state.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <clocale>
#include <cwchar>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/sysinfo.h"

namespace {

constexpr wchar_t kProductFolder[] = L"ONVelqor";

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? value : L"";
}

std::wstring SpecialFolder(int csidl) {
  wchar_t folder[MAX_PATH] = {};
  return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder)) ? folder : L"";
}

std::wstring ExeFileName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return PathFindFileNameW(path);
}

// Failures are logged and otherwise ignored: the installation itself is done.
void WriteIni(const std::wstring& file, const wchar_t* section, const wchar_t* key, const std::wstring& value) {
  if (!WritePrivateProfileStringW(section, key, value.c_str(), file.c_str()))
    OV_LOGS(L"ini write failed:%lu:%s %s", GetLastError(), file.c_str(), key);
}

void StoreRegValue(const wchar_t* name, const std::wstring& value) {
  if (const Utils::SystemResult stored = Utils::SetRegValue(name, value); !stored)
    OV_LOGS(L"registry write failed:%lu:%s", stored.error, name);
}

}  // namespace

std::wstring ChooseDefaultFolder(const DefaultFolderInputs& in) {
  if (!in.registeredInstallPath.empty() && in.uninstallerExists) return in.registeredInstallPath;
  std::wstring base;
  if (in.consoleUserIsAdmin && in.processIsElevated && !in.appData.empty())
    base = in.appData + L"\\pelan";
  else
    base = !in.programFilesX86.empty() ? in.programFilesX86 : in.programFiles;
  return base + L"\\" + kProductFolder;
}

bool IsSameFolder(const std::wstring& a, const std::wstring& b) {
  wchar_t relative[MAX_PATH] = {};
  if (a.size() >= MAX_PATH || b.size() >= MAX_PATH) return false;
  if (!PathRelativePathToW(relative, a.c_str(), FILE_ATTRIBUTE_DIRECTORY, b.c_str(), FILE_ATTRIBUTE_DIRECTORY))
    return false;
  return std::wcscmp(relative, L".") == 0;
}

void InstallState::Read() {
  registeredInstallPath.clear();
  registeredUninstallerPath.clear();
  Utils::GetRegValue(L"InstallPath", registeredInstallPath);
  Utils::GetRegValue(L"UnInstallEp", registeredUninstallerPath);
  if (registeredUninstallerPath.empty() && !registeredInstallPath.empty())
    registeredUninstallerPath = registeredInstallPath + L"\\uninst.ep";
}

void InstallState::Write() {
  // An empty folder (a package that reported "InstPath=" with nothing) must
  // not replace the record of a real installation.
  if (reportedInstallFolder.empty()) return;
  StoreRegValue(L"InstallPath", reportedInstallFolder);
  if (reportedUninstallerPath.empty()) reportedUninstallerPath = reportedInstallFolder + L"\\uninst.ep";
  if (Utils::IsFile(reportedUninstallerPath)) StoreRegValue(L"UnInstallEp", reportedUninstallerPath);
}

void InstallState::WriteSetIni() const {
  // Without a folder the INI path would become "\set.ini" at a drive's root.
  if (reportedInstallFolder.empty()) return;
  std::setlocale(LC_ALL, "en_GB.UTF-8");
  const std::wstring setIni = reportedInstallFolder + L"\\set.ini";
  WriteIni(setIni, L"Install", L"APPStore", ExeFileName());
  WriteIni(setIni, L"Install", L"AppName", L"Velqor");
  WriteIni(setIni, L"Install", L"DeviceID", Utils::CreateGuidString());
  const std::wstring data = DataFolder();
  if (const Utils::SystemResult made = Utils::CreateDirectories(data); !made) {
    OV_LOGS(L"cannot create %s:%lu", data.c_str(), made.error);
    return;
  }
  const std::wstring analyticsIni = data + L"\\PLAnalytics.ini";
  WriteIni(setIni, L"Install", L"PLAnalyticsIni", analyticsIni);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t time[64];
  _snwprintf(time, 63, L"%d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
  WriteIni(analyticsIni, L"Init", L"UpdateTime", time);
}

std::wstring InstallState::DefaultFolder() {
  std::wstring user;
  consoleUserIsAdmin = Utils::GetConsoleUserName(user) && Utils::IsUserAdmin(user);
  processIsElevated = Utils::IsAdmin();
  DefaultFolderInputs in;
  in.registeredInstallPath = registeredInstallPath;
  in.uninstallerExists = Utils::IsFile(registeredUninstallerPath);
  in.consoleUserIsAdmin = consoleUserIsAdmin;
  in.processIsElevated = processIsElevated;
  in.appData = Environment(L"APPDATA");
  in.programFilesX86 = SpecialFolder(CSIDL_PROGRAM_FILESX86);
  in.programFiles = SpecialFolder(CSIDL_PROGRAM_FILES);
  return ChooseDefaultFolder(in);
}

bool InstallState::IsDefaultFolder(const std::wstring& folder) { return IsSameFolder(folder, DefaultFolder()); }

std::wstring InstallState::ChosenFolder(const std::wstring& editText) {
  const std::wstring defaultFolder = DefaultFolder();
  if (IsSameFolder(editText, defaultFolder)) return defaultFolder;
  std::wstring folder = editText;
  for (wchar_t& c : folder)
    if (c == L'/') c = L'\\';
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  return folder + kProductFolder;
}

bool InstallState::SkipsUninstall(const std::wstring& folder) const {
  if (!IsSameFolder(folder, registeredInstallPath)) return false;
  wchar_t value[20] = {};
  GetPrivateProfileStringW(L"Uninstall", L"IsOverride", L"true", value, 20, (folder + L"\\set.ini").c_str());
  return std::wcscmp(value, L"false") == 0;
}

std::wstring InstallState::DataFolder() {
  std::wstring base = Environment(L"APPDATA");
  if (base.empty()) base = SpecialFolder(CSIDL_COMMON_DOCUMENTS);
  return base + L"\\PeLanData\\" + kProductFolder;
}
