// The process-wide installer settings: built-in defaults, then the optional
// "PelanInstallerConfig.ini" next to the exe, then the command line.
// Written only at start-up (and HttpReady / LanguageIndex as noted). Only
// app/ and ui/ read it, through Settings(); they hand the layers below what
// those need (SequenceOptions, InstallChoices, DownloadOptions).
#pragma once

#include <map>
#include <optional>
#include <string>

struct InstallerSettings {
  std::wstring ProductCode = L"Velqor";
  std::wstring ProductVersion = L"1.7.9";
  std::wstring InstallerFileName = L"NULL";
  std::wstring DownloadUrl;
  int DownloadType = 1;
  bool IsCheckNet = false;
  bool IsEnableAppAnalytics = true;
  std::wstring DlAppNameSuffix = L".downloader";
  std::wstring m_DlAppVersion;
  double DownloadScale = 0.7;
  std::wstring InstCmd;
  bool HttpReady = true;  // cleared by start-up when libcurl cannot be initialised
  std::wstring AbGroup = L"IN";
  int LanguageIndex = -1;  // updated by the main window when the user picks a language
  bool InsNew = false;
  bool Silent = false;  // the quiet install: no window, no dialog, the outcome as the exit code
  // "-instdir": the target folder as typed into the custom page's folder box
  // (command line only); without it the registered or the default folder.
  std::optional<std::wstring> InstDir;

  InstallerSettings();  // built-in defaults only

  // Defaults, then the settings file beside exePath (if it exists).
  void Load(const std::wstring& exePath);
  // Stores the URL with every "${ROUTE}" replaced for this Windows version.
  void SetDownloadUrl(const std::wstring& url);
  // Overrides the fields named by recognised options of this command line.
  void ApplyCommandLine(const wchar_t* commandLine);
};

// "<scheme>://<download host>/software/10"; the scheme is a build value
// (https unless the build says otherwise).
std::wstring BuiltInDownloadUrl();

// The statistics host (terms and start pages) and the analytics collection
// URL (empty: the tracker's built-in endpoint). Both are build values,
// unless the machine-wide test override names others: REG_SZ "StatsHost"
// and "AnalyticsUrl" under HKLM\Software\PeLanSoft\Velqor\TestHosts (64-bit
// view), which only administrators can write. Tests and the demo use it so
// that they run the shipped binary unchanged (docs/window.md).
std::wstring StatsHost();
std::string AnalyticsServerUrl();

// Replaces every "${ROUTE}" with the route for the Windows version label.
std::wstring SubstituteRoute(std::wstring url, const std::wstring& versionLabel);

// Options of one command line: case-sensitive names, first occurrence wins.
class CommandLineOptions {
 public:
  explicit CommandLineOptions(const wchar_t* commandLine);

  bool Has(const std::wstring& name) const { return options_.count(name) != 0; }
  std::optional<std::wstring> Text(const std::wstring& name) const;
  int Integer(const std::wstring& name) const;
  bool Bool(const std::wstring& name) const;
  double Double(const std::wstring& name, double fallback) const;

 private:
  std::map<std::wstring, std::wstring> options_;
};

// The one record, loaded from the running exe's folder on first use (during
// static initialisation, before the entry function runs).
InstallerSettings& Settings();
