#include "app/settings.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <cstdlib>

#include "platform/handles.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/sysinfo.h"

#if !defined(OV_DOWNLOAD_HOST) || !defined(OV_DOWNLOAD_SCHEME) || !defined(OV_STATS_HOST)
#error "OV_DOWNLOAD_HOST, OV_DOWNLOAD_SCHEME and OV_STATS_HOST must be set by the build"
#endif
#define OV_WIDEN_(x) L##x
#define OV_WIDEN(x) OV_WIDEN_(x)

namespace {

constexpr const wchar_t* kSection = L"Install";
constexpr size_t kValueChars = 260;  // values longer than 259 characters are cut

std::wstring ReadText(const std::wstring& file, const wchar_t* key, const wchar_t* fallback) {
  wchar_t buffer[kValueChars] = {};
  GetPrivateProfileStringW(kSection, key, fallback, buffer, kValueChars, file.c_str());
  return buffer;
}

bool HasKey(const std::wstring& file, const wchar_t* key) {
  constexpr const wchar_t* kAbsent = L"\x01absent";
  return ReadText(file, key, kAbsent) != kAbsent;
}

// Keys that choose what runs, and from where. The installer runs elevated,
// often from a Downloads folder where a web page can drop a settings file
// too: there they would let it point at an older package the publisher once
// signed, or hand the package other arguments.
constexpr const wchar_t* kKeysThatChooseWhatRuns[] = {L"DownloadUrl", L"DownloadType", L"InstCmd", L"Silent"};

}  // namespace

std::wstring BuiltInDownloadUrl() {
  return OV_WIDEN(OV_DOWNLOAD_SCHEME) L"://" OV_WIDEN(OV_DOWNLOAD_HOST) L"/software/10";
}

namespace {

// One value of the test override; empty when absent or not a short text.
std::wstring TestHostOverride(const wchar_t* name) {
  Utils::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\PeLanSoft\\Velqor\\TestHosts", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    key.put()) != ERROR_SUCCESS)
    return L"";
  wchar_t value[512] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  const LSTATUS status = RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
  return status == ERROR_SUCCESS ? value : L"";
}

}  // namespace

std::wstring StatsHost() {
  const std::wstring host = TestHostOverride(L"StatsHost");
  return host.empty() ? OV_WIDEN(OV_STATS_HOST) : host;
}

std::string AnalyticsServerUrl() {
  const std::wstring url = TestHostOverride(L"AnalyticsUrl");
  return url.empty() ? std::string() : Utils::WideToUtf8(url);
}

std::wstring SubstituteRoute(std::wstring url, const std::wstring& versionLabel) {
  static const std::wstring kPlaceholder = L"${ROUTE}";
  const std::wstring route =
      versionLabel.find(L"XP") != std::wstring::npos ? L"download_silent_xp" : L"download_silent";
  for (size_t at = url.find(kPlaceholder); at != std::wstring::npos; at = url.find(kPlaceholder))
    url.replace(at, kPlaceholder.size(), route);
  return url;
}

InstallerSettings::InstallerSettings() { DownloadUrl = BuiltInDownloadUrl(); }

void InstallerSettings::SetDownloadUrl(const std::wstring& url) {
  if (url.find(L"${ROUTE}") == std::wstring::npos) {
    DownloadUrl = url;
    return;
  }
  std::wstring system, label;
  Utils::GetWindowsVersion(system, label);
  DownloadUrl = SubstituteRoute(url, label);
}

void InstallerSettings::Load(const std::wstring& exePath) {
  *this = InstallerSettings();
  wchar_t path[MAX_PATH] = {};
  exePath.copy(path, MAX_PATH - 1);
  wchar_t name[MAX_PATH] = {};
  wcscpy(name, path);
  PathStripPathW(name);
  InstallerFileName = name;

  PathRemoveFileSpecW(path);
  const std::wstring file = std::wstring(path) + L"\\PelanInstallerConfig.ini";
  if (PathFileExistsW(file.c_str())) {
    // Honoured whole only where just administrators can write (a deployment
    // share, Program Files); elsewhere those keys are dropped and named.
    if (Utils::WritableWithoutAdminRights(file)) {
      std::wstring ignored;
      for (const wchar_t* key : kKeysThatChooseWhatRuns)
        if (HasKey(file, key)) ignored += (ignored.empty() ? L"" : L", ") + std::wstring(key);
      if (!ignored.empty())
        OV_LOGS(L"settings file %s can be written without administrator rights: ignored %s", file.c_str(),
                ignored.c_str());
    } else {
      SetDownloadUrl(ReadText(file, L"DownloadUrl", BuiltInDownloadUrl().c_str()));
      DownloadType = static_cast<int>(GetPrivateProfileIntW(kSection, L"DownloadType", 1, file.c_str()));
      InstCmd = ReadText(file, L"InstCmd", L"");
      Silent = ReadText(file, L"Silent", L"false") == L"true";
    }
    IsCheckNet = ReadText(file, L"IsCheckNet", L"true") == L"true";
    IsEnableAppAnalytics = ReadText(file, L"IsEnableAppAnalytics", L"true") == L"true";
    DlAppNameSuffix = ReadText(file, L"DlAppNameSuffix", L".downloader");
    m_DlAppVersion = ReadText(file, L"m_DlAppVersion", L"");
    DownloadScale = Utils::ParseLeadingDouble(ReadText(file, L"DownloadScale", L"0.7"));
  }
  ProductCode = L"Velqor";
  ProductVersion = L"1.7.9";
}

void InstallerSettings::ApplyCommandLine(const wchar_t* commandLine) {
  const CommandLineOptions options(commandLine);
  if (auto v = options.Text(L"-downloadurl")) SetDownloadUrl(*v);
  if (options.Has(L"-downloadtype")) DownloadType = options.Integer(L"-downloadtype");
  if (options.Has(L"-downloadscale")) DownloadScale = options.Double(L"-downloadscale", DownloadScale);
  if (options.Has(L"-ischecknet")) IsCheckNet = options.Bool(L"-ischecknet");
  if (options.Has(L"-isenableappanalytics")) IsEnableAppAnalytics = options.Bool(L"-isenableappanalytics");
  if (auto v = options.Text(L"-dlappnamesuffix")) DlAppNameSuffix = *v;
  if (auto v = options.Text(L"-dlappversion")) m_DlAppVersion = *v;
  if (auto v = options.Text(L"-instcmd")) InstCmd = *v;
  if (options.Has(L"-language")) LanguageIndex = options.Integer(L"-language");
  if (options.Has(L"-insnew")) InsNew = options.Bool(L"-insnew");
  if (options.Has(L"-silent")) Silent = options.Bool(L"-silent");
  if (auto v = options.Text(L"-instdir")) InstDir = *v;
}

CommandLineOptions::CommandLineOptions(const wchar_t* commandLine) {
  if (!commandLine) return;
  int count = 0;
  const Utils::UniqueLocalMemory<LPWSTR> elements(CommandLineToArgvW(commandLine, &count));
  if (!elements) return;
  for (int i = 0; i < count; ++i) {
    const std::wstring element = elements.get()[i];
    const size_t eq = element.find(L'=');
    if (!element.empty() && element[0] == L'-' && eq != std::wstring::npos)
      options_.emplace(element.substr(0, eq), element.substr(eq + 1));  // emplace keeps the first
    else
      options_.emplace(element, std::wstring());
  }
}

std::optional<std::wstring> CommandLineOptions::Text(const std::wstring& name) const {
  const auto it = options_.find(name);
  if (it == options_.end()) return std::nullopt;
  return it->second;
}

int CommandLineOptions::Integer(const std::wstring& name) const {
  const auto v = Text(name);
  return v ? Utils::ParseLeadingInt(*v) : 0;
}

bool CommandLineOptions::Bool(const std::wstring& name) const {
  const auto v = Text(name);
  return v && *v == L"true";
}

double CommandLineOptions::Double(const std::wstring& name, double fallback) const {
  const auto v = Text(name);
  return v ? Utils::ParseLeadingDouble(*v) : fallback;
}

InstallerSettings& Settings() {
  static InstallerSettings* settings = [] {
    auto* s = new InstallerSettings();  // never destroyed: workers may read it until exit
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    s->Load(exe);
    return s;
  }();
  return *settings;
}

// Reads the settings file during static initialisation, before wWinMain.
static const bool g_settingsLoaded = (Settings(), true);
