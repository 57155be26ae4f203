// ov_orchestrate: runs one download-and-install sequence the way the main
// window will, and prints every report as one UTF-8 line
// "<code> <number> <text>".
//
//   ov_orchestrate --url URL --folder F [--uninstaller P [--installed DIR]] [--type N] [--insnew] [--lang TAG]
//
// Exit code: 0 when the sequence ended with INSTALL_SUCCESS, 1 when it ended
// otherwise, 2 for a wrong command line or a failed libcurl start-up.
// Analytics are off: nothing is sent anywhere.
#include <windows.h>

#include <curl/curl.h>

#include <fcntl.h>
#include <io.h>

#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "install/download_installer.h"
#include "install/report_codes.h"
#include "platform/strings.h"
#include "platform/sysinfo.h"

namespace {

struct Options {
  std::wstring url, folder, uninstaller, installed, language;
  int type = 1;
  bool insNew = false;
};

bool Parse(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (name == L"--insnew") {
      options.insNew = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const wchar_t* value = argv[++i];
    if (name == L"--url")
      options.url = value;
    else if (name == L"--folder")
      options.folder = value;
    else if (name == L"--uninstaller")
      options.uninstaller = value;
    else if (name == L"--installed")
      options.installed = value;
    else if (name == L"--lang")
      options.language = value;
    else if (name == L"--type")
      options.type = static_cast<int>(std::wcstol(value, nullptr, 10));
    else
      return false;
  }
  // The registered install folder, inside which the uninstaller must lie:
  // by default the target, as for an upgrade in place.
  if (options.installed.empty()) options.installed = options.folder;
  return !options.url.empty() && !options.folder.empty();
}

// Plays the window's report function: prints, and tells main when the
// sequence has ended.
class Console {
 public:
  SequenceReport Callback() {
    return [this](const ReportRecord& report) {
      char head[64];
      std::snprintf(head, sizeof(head), "%d %g ", static_cast<int>(report.code), report.number);
      const std::string line = head + Utils::WideToUtf8(report.text) + "\n";
      std::lock_guard<std::mutex> lock(mutex_);
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
      last_ = report.code;
      ++count_;
      changed_.notify_all();
    };
  }
  // Waits for the next ending report after the first `seen` reports.
  int32_t WaitForEnd(size_t& seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return count_ > seen && IsEnd(last_); });
    seen = count_;
    return last_;
  }
  int32_t last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  static bool IsEnd(int32_t code) {
    return code == INSTALL_SUCCESS || code == IST_CODE_FAIL || code == DL_CODE_FAIL || code == UNIST_CODE_FAIL ||
           code == UNIST_CODE_ERROR;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t last_ = 0;
  size_t count_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fputs(
        "usage: ov_orchestrate --url URL --folder F [--uninstaller P [--installed DIR]] [--type N] [--insnew] "
        "[--lang TAG]\n",
        stderr);
    return 2;
  }
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
    std::fputs("ov_orchestrate: libcurl could not be initialised\n", stderr);
    return 2;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // the lines end in "\n" alone, as UTF-8 text does elsewhere
  InstallerAnalytics analytics;
  analytics.enabled = [] { return false; };  // a driver reports nothing
  ConfigureInstallerAnalytics(std::move(analytics));

  std::wstring user;
  const bool consoleUserIsAdmin = Utils::GetConsoleUserName(user) && Utils::IsUserAdmin(user);
  Console console;
  int32_t end = 0;
  {
    SequenceOptions sequence;
    sequence.downloadType = options.type;
    sequence.insNew = options.insNew;
    CDownloadInstaller orchestrator(console.Callback(), sequence);
    orchestrator.Init({.downloadUrl = options.url,
                       .previousInstallPath = options.installed,
                       .recordedUninstaller = options.uninstaller,
                       .installFolder = options.folder,
                       .consoleUserIsAdmin = consoleUserIsAdmin,
                       .processIsElevated = Utils::IsAdmin(),
                       .languageTag = options.language});
    orchestrator.Start();
    size_t seen = 0;
    end = console.WaitForEnd(seen);
    // An uninstaller that reported an error may still report success (and
    // so start the download) until its run is over.
    if (end == UNIST_CODE_ERROR) {
      orchestrator.WaitForUninstallRun();
      if (console.last() != UNIST_CODE_ERROR) end = console.WaitForEnd(seen);
    }
  }  // waits for the package run and the clean-up
  curl_global_cleanup();
  return end == INSTALL_SUCCESS ? 0 : 1;
}
