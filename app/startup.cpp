#include "app/startup.h"

#include <curl/curl.h>
#include <cxxabi.h>

#include "analytics/installer_events.h"
#include "app/quiet_install.h"
#include "app/settings.h"
#include "download/network_policy.h"
#include "platform/log.h"
#include "platform/strings.h"
#include "platform/system_imports.h"
#include "ui/main_wnd.h"
#include "ui/skin_frame.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
SetDefaultDllDirectoriesFn g_setDefaultDllDirectories = nullptr;

const wchar_t* const kPreloadedLibraries[] = {
    L"\\version.dll", L"\\ws2_32.dll",  L"\\sxs.dll",     L"\\dwmapi.dll",        L"\\msimg32.dll",
    L"\\d3d8.dll",    L"\\ieframe.dll", L"\\ws2help.dll", L"\\WindowsCodecs.dll",
};

EventExtras AbIn() { return {{L"AB", L"IN"}}; }

}  // namespace

// An exception that escapes ends the installer through the crash report,
// like any other fault, rather than through abort(), which the report never
// sees. Defining libstdc++'s default handler here, instead of setting one at
// run time, also keeps its own out of the link: it names the exception's
// type through the C++ demangler, about 48 KB of the exe.
void __gnu_cxx::__verbose_terminate_handler() { __builtin_trap(); }

void PreloadSystemLibraries() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
    g_setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (g_setDefaultDllDirectories) g_setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
  // A missing one is fine; loaded ones stay until exit.
  const auto loadFromSystem = [&system](const wchar_t* name) { LoadLibraryW((std::wstring(system) + name).c_str()); };
  for (const wchar_t* name : kPreloadedLibraries) loadFromSystem(name);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
  // The last line of the log file says how the installer ended.
  OV_LOGS(L"unhandled exception %08lx at %p: the installer ends", exception->ExceptionRecord->ExceptionCode,
          exception->ExceptionRecord->ExceptionAddress);
  ReportTask(L"崩溃退出", L"", 0, AbIn());
  ReportCrash();
  return EXCEPTION_CONTINUE_SEARCH;
}

const wchar_t* SingleInstanceGuard::MutexName() { return L"D1A547DB89C0BC61_Installer_Velqor"; }

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

void SingleInstanceGuard::Acquire() {
  if (handle_) return;
  Utils::UniqueHandle mutex(CreateMutexW(nullptr, TRUE, MutexName()));
  // Another instance owns it: this copy is no guard.
  if (mutex && GetLastError() != ERROR_ALREADY_EXISTS) handle_ = std::move(mutex);
}

void SingleInstanceGuard::Release() {
  if (!handle_) return;
  ReleaseMutex(handle_.get());
  handle_.reset();
}

int RunInstaller(HINSTANCE instance) {
  InstallerSettings& settings = Settings();  // the settings file was read before wWinMain

  PreloadSystemLibraries();
  // Bound from the system folder before main (platform/system_imports.h).
  // Every supported Windows has them all; without one nothing can work.
  if (const std::wstring unbound = Utils::UnboundSystemImport(); !unbound.empty()) {
    OV_LOGS(L"system function not available: %s", unbound.c_str());
    return static_cast<int>(ExitCode::kCannotStart);
  }
  // The report functions ask the settings whether analytics are on, at each
  // report: the command line may turn them off after the tracker exists.
  InstallerAnalytics analytics;
  analytics.enabled = [] { return Settings().IsEnableAppAnalytics; };
  analytics.appName = Utils::WideToUtf8(settings.ProductCode + settings.DlAppNameSuffix);
  analytics.appVersion = Utils::WideToUtf8(settings.ProductVersion);
  analytics.appStore = Utils::WideToUtf8(settings.InstallerFileName);
  analytics.dlAppId = Utils::WideToUtf8(settings.ProductCode);
  analytics.dlAppVersion = Utils::WideToUtf8(settings.m_DlAppVersion);
  ConfigureInstallerAnalytics(std::move(analytics));
  SetUnhandledExceptionFilter(OnUnhandledException);

  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
    settings.HttpReady = false;
    ReportTask(L"libcurl初始化失败", L"", 0, AbIn());
  }

  SingleInstanceGuard guard;
  guard.Acquire();
  // Silently: no window, no event, no clean-up.
  if (!guard.handle()) return static_cast<int>(ExitCode::kAnotherInstaller);
  // A window is shown unless the command line asks for a quiet install,
  // which is known before the command line is applied (after the tracker).
  InstallerSettings asLaunched = settings;
  asLaunched.ApplyCommandLine(GetCommandLineW());
  // The skin archive unpacks while the tracker and the settings are made.
  // Not earlier, so a second instance starts no thread (and logs nothing).
  if (!asLaunched.Silent) PrefetchSkins(instance);

  // From the settings file's value, before the command line can change it;
  // events reported before it existed (a libcurl failure) are sent now.
  // The post takes the installer's proxy and revocation policy, as downloads do.
  CreateTracker(AnalyticsServerUrl(), [](const std::string& url, const std::string& body, std::string& response) {
    return analytics_core::CurlPost(url, body, response, {nullptr, &download::ApplyNetworkPolicy});
  });

  settings.ApplyCommandLine(GetCommandLineW());
  OV_LOGS(
      L"settings: DownloadUrl=%s DownloadType=%d DownloadScale=%f IsCheckNet=%d "
      L"IsEnableAppAnalytics=%d InsNew=%d LanguageIndex=%d InstCmd=%s HttpReady=%d Silent=%d InstDir=%s",
      settings.DownloadUrl.c_str(), settings.DownloadType, settings.DownloadScale, settings.IsCheckNet,
      settings.IsEnableAppAnalytics, settings.InsNew, settings.LanguageIndex, settings.InstCmd.c_str(),
      settings.HttpReady, settings.Silent, settings.InstDir ? settings.InstDir->c_str() : L"(none)");

  ExitCode code = ExitCode::kCancelled;
  std::wstring cause;
  if (settings.Silent) {
    code = RunQuietInstall(settings, &cause);
    ShutdownTracker();
    curl_global_cleanup();
  } else {
    // Skin toolkit: module handle, 7z skin archive, drop-shadow window class.
    PrepareSkinToolkit(instance);
    // The main window's modal loop is the program's main loop. The
    // controller outlives its window until after libcurl is released.
    CMainWnd window;
    if (window.Create(nullptr, L"OndraVelqor", 0x10CF0000, 0)) {
      window.CenterWindow();
      window.ShowModal();
      code = window.exitCode();
      cause = window.exitCause();
    } else {
      OV_LOGS(L"the main window could not be created: %lu", GetLastError());
      code = ExitCode::kCannotStart;
    }

    // Shutdown: the tracker makes its last posting attempts (only when
    // analytics are on now), before libcurl goes; then the controller,
    // whose orchestrator waits for its threads.
    ShutdownTracker();
    curl_global_cleanup();
  }
  guard.Release();
  // The log's last line: what a deployment script's exit code means.
  OV_LOGS(L"exit code %d (%s)%s%s", static_cast<int>(code), ExitCodeName(code), cause.empty() ? L"" : L": ",
          cause.c_str());
  return static_cast<int>(code);
}
