#include "install/download_installer.h"

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <atomic>

#include "analytics/installer_events.h"
#include "download/network_policy.h"
#include "download/url_text.h"
#include "download/verify.h"
#include "install/child_output.h"
#include "install/failure_reasons.h"
#include "install/installer.h"
#include "install/report_codes.h"
#include "install/uninstaller.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/publisher_check.h"
#include "platform/strings.h"
#include "platform/system_checks.h"

namespace {

// The product whose running copy the install-new mode waits for.
constexpr const wchar_t* kProductExe = L"OndraVelqor.exe";

void SleepBetweenLooks() { Sleep(100); }
std::atomic<CDownloadInstaller::PauseFunction> g_productWaitPause{&SleepBetweenLooks};

// Shared by every orchestrator of the process. Phases end one at a time, so
// the lock is never contended; it only keeps a late runner thread safe.
std::mutex g_lastPackageMutex;
std::wstring g_lastPackagePath;

bool IsFile(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Delete any file at the path, then create and delete one: can the package
// be written there at all?
bool PassesWriteTest(const std::wstring& path) {
  if (PathFileExistsW(path.c_str()) && !DeleteFileW(path.c_str())) {
    OV_LOGS(L"write test: delete failed:%lu:%s", GetLastError(), path.c_str());
    return false;
  }
  Utils::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    OV_LOGS(L"write test: create failed:%lu:%s", GetLastError(), path.c_str());
    return false;
  }
  file.reset();
  DeleteFileW(path.c_str());
  return true;
}

// "C:" for a drive path; the root ("\\server\share\") otherwise.
std::wstring DrivePart(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  wchar_t root[MAX_PATH] = {};
  path.copy(root, MAX_PATH - 1);
  PathStripToRootW(root);
  return root;
}

// The network check needs COM on the calling thread; the window thread may
// or may not have it already (a different apartment model is fine too).
uint32_t NetworkStatusCode() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const uint32_t code = Utils::CheckNetwork();
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}

// What the single-stream downloader finds wrong with the file-size query.
void ReportTransferFailureReason(const std::wstring& reason) {
  ReportTask(L"下载失败原因", reason.c_str(), 0, {{L"AB", L"IN"}});
}

}  // namespace

bool CDownloadInstaller::PhaseGate::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  ++inside_;
  return true;
}

void CDownloadInstaller::PhaseGate::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--inside_ == 0) idle_.notify_all();
}

void CDownloadInstaller::PhaseGate::Close() {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  idle_.wait(lock, [this] { return inside_ == 0; });
}

CDownloadInstaller::CDownloadInstaller(PhaseCallback report, SequenceOptions options)
    : options_(std::move(options)), report_(std::move(report)) {}

CDownloadInstaller::~CDownloadInstaller() {
  gate_.Close();
  downloader_.reset();
  handedOver_.reset();
  installer_.reset();
  uninstaller_.reset();
}

void CDownloadInstaller::Init(InstallChoices choices) { choices_ = std::move(choices); }

void CDownloadInstaller::Start() {
  downloadRequested_ = false;
  // Without a folder there is no package path; the downloader then fails at
  // once (its empty-target report) instead of writing to a drive's root.
  packagePath_ = choices_.installFolder.empty() ? std::wstring()
                                                : choices_.installFolder +
                                                      L"\\__Package_"
                                                      L"Velqor"
                                                      L".exe";
  OV_LOG(L"DL_TYPE=%d\r\n", options_.downloadType);
  // An earlier installer killed while starting the package left it frozen,
  // holding the file that this run must download again.
  if (!packagePath_.empty()) EndNeverStartedRuns(packagePath_);
  // The downloader and the runner keep the package path they were made
  // with; a repeated Start for another folder must not download to one path
  // and run another.
  const bool pathChanged = builtForPath_ != packagePath_;
  builtForPath_ = packagePath_;
  PrepareDownloader(pathChanged);
  if (!installer_ || pathChanged) {
    installer_ = std::make_unique<CInstaller>(
        [this](int32_t code, double number, const wchar_t* text) { OnInstallReport(code, number, text); },
        L"\"" + packagePath_ + L"\"", choices_, options_.extraPackageArguments);
    installer_->runEnded = [this] {
      // The package printed its final line and ran on, so its file could not
      // be deleted at the report; now the process is gone.
      if (!packageInUse_.empty()) DeleteFileW(packageInUse_.c_str());
      packageInUse_.clear();
    };
  }
  installer_->choices = choices_;
  if (!IsFile(choices_.recordedUninstaller)) {
    StartDownload();
  } else if (!IsInsideFolder(choices_.recordedUninstaller, choices_.previousInstallPath)) {
    // The recorded path comes from the user's own registry hive; running
    // whatever it names, elevated, would hand any program administrator
    // rights. Only an uninstaller of the registered installation is run.
    OV_LOGS(L"uninstaller outside the install folder: %s", choices_.recordedUninstaller.c_str());
    report_(UNIST_CODE_FAIL, kFailUninstallerOutside, kUninstallerOutsideText);
  } else {
    StartUninstall();
  }
}

void CDownloadInstaller::PrepareDownloader(bool pathChanged) {
  // The second Start after a failed download reuses the downloader, unless
  // its URL or target would differ or it is the system downloader, which
  // runs only once (the old one has ended with its final report).
  const bool reusable = downloader_ && !pathChanged && downloaderUrl_ == choices_.downloadUrl &&
                        !(downloaderStartsOnce_ && downloaderStarted_);
  handedOver_.reset();
  if (reusable) return;
  downloader_.reset();
  downloader_ = MakeDownloader(options_.downloadType);
  downloaderUrl_ = choices_.downloadUrl;
  downloaderStarted_ = false;
  downloaderStartsOnce_ = options_.downloadType == 2;
}

void CDownloadInstaller::StartDownload() {
  // Once per Start: a second start would delete the verified package of the
  // first, or run it twice. Only DL_CODE_RETRY starts the downloader again.
  if (downloadRequested_.exchange(true)) {
    OV_LOGS(L"download already started");
    return;
  }
  downloaderStarted_ = true;
  downloader_->Start();
}

void CDownloadInstaller::StartUninstall() {
  const UninstallPreparation prepared =
      PrepareUninstallerCopy(choices_.recordedUninstaller, choices_.processIsElevated);
  uninstaller_.reset();  // waits for an earlier run
  uninstaller_ = std::make_unique<CUnInstaller>(
      [this](int32_t code, double number, const wchar_t* text) { OnUninstallReport(code, number, text); },
      prepared.copyPath, prepared.previousFolder);
  // The download starts once the uninstaller has exited after its success,
  // never from its success report: it may go on removing files (the new
  // product's among them) after saying so.
  uninstaller_->runEnded = [this](bool succeeded) {
    if (!succeeded) return;
    StartNextPhase([this] {
      if (installer_ && downloader_) StartDownload();
    });
  };
  if (options_.insNew) {
    // The old uninstaller cannot remove a product that still runs.
    while (FindProcessByName(kProductExe) != 0) g_productWaitPause.load()();
  }
  uninstaller_->Start();
}

void CDownloadInstaller::WaitForUninstallRun() {
  if (uninstaller_) uninstaller_->Wait();
}

bool CDownloadInstaller::StartNextPhase(const std::function<void()>& start) {
  if (!gate_.Enter()) return false;
  start();
  gate_.Leave();
  return true;
}

std::unique_ptr<CDownloader> CDownloadInstaller::MakeDownloader(int32_t type) {
  return CreateDownloader(
      type, [this](int32_t code, double number, const wchar_t* text) { OnDownloadReport(code, number, text); },
      choices_.downloadUrl, packagePath_,
      DownloadOptions{options_.httpReady, &ReportTransferFailureReason, choices_.processIsElevated});
}

bool CDownloadInstaller::HandOverAfterProxyRefusal() {
  // The system downloader answers a proxy by WinInet's own means (the
  // user's stored or typed credentials, its own single sign-on), which
  // libcurl cannot: it takes over before the failure reaches the window.
  if (downloaderStartsOnce_ || !download::ProxyRefusedAuthentication(download::NarrowUrl(choices_.downloadUrl)))
    return false;
  OV_LOGS(L"the proxy refused authentication (407): the system downloader takes over");
  ReportTransferFailureReason(L"1.代理服务器身份验证失败=407；2.改用系统下载");
  return StartNextPhase([this] {
    handedOver_ = std::move(downloader_);
    downloader_ = MakeDownloader(2);
    downloaderStartsOnce_ = true;
    downloader_->Start();
  });
}

void CDownloadInstaller::OnDownloadReport(int32_t code, double number, const wchar_t* text) {
  if (code == DL_CODE_FAIL && HandOverAfterProxyRefusal()) return;
  // A package that is not the publisher's is a failed download: its success
  // is told only once it has been checked.
  if (code != DL_CODE_SUCCESS) report_(code, number, text);
  switch (code) {
    case DL_CODE_START:
      OV_LOGS(L"DL_CODE_START");
      // A failure shows later: the download or the package run fails.
      if (!choices_.installFolder.empty()) {
        if (const Utils::SystemResult made = Utils::CreateDirectories(choices_.installFolder); !made)
          OV_LOGS(L"cannot create %s:%lu", choices_.installFolder.c_str(), made.error);
      }
      break;
    case DL_CODE_SUCCESS: {
      OV_LOGS(L"DL_CODE_SUCCESS");
      Utils::UniqueHandle held = HoldCheckedPackage(downloader_->TakeDownloadedFile());
      if (!held) {
        report_(code, number, text);
        report_(IST_CODE_FAIL, kFailLaunch, kPackageChangedText);
        RemovePackageFiles();
        break;
      }
      const std::wstring refused = Utils::RefusedByPublisherCheck(held.get(), packagePath_);
      if (!refused.empty()) {
        held.reset();
        RemovePackageFiles();  // never run, never left behind
        const std::wstring notice = std::wstring(kUntrustedPackageText) + L": " + refused;
        report_(DL_CODE_NOTICE, 0, notice.c_str());
        report_(DL_CODE_FAIL, kFailUntrustedPackage, notice.c_str());
        break;
      }
      report_(code, number, text);
      // The phase runs here and now, if at all: the reference outlives it.
      if (!StartNextPhase([this, &held] {
            installer_->HoldPackage(std::move(held));
            installer_->Start();
          })) {
        held.reset();
        RemovePackageFiles();  // closing: it will not run
      }
      break;
    }
    case DL_CODE_FAIL:
      OV_LOGS(L"DL_CODE_FAIL");
      RemovePackageFiles();
      break;
    case DL_CODE_RETRY:
      OV_LOGS(L"DL_CODE_RETRY");
      // From inside the downloader's own final report: its Start hands the
      // ending worker to the new one, which waits for it before reporting.
      StartNextPhase([this] { downloader_->Start(); });
      break;
    default:
      break;
  }
}

void CDownloadInstaller::OnUninstallReport(int32_t code, double number, const wchar_t* text) {
  report_(code, number, text);
  switch (code) {
    case UNIST_CODE_SUCCESS:
      OV_LOGS(L"UNIST_CODE_SUCCESS");  // the download follows the uninstaller's exit
      break;
    case UNIST_CODE_FAIL:
      OV_LOGS(L"UNIST_CODE_FAIL");
      break;
    case UNIST_CODE_ERROR:
      OV_LOGS(L"UNIST_CODE_ERROR");
      break;
    default:
      break;
  }
}

void CDownloadInstaller::OnInstallReport(int32_t code, double number, const wchar_t* text) {
  report_(code, number, text);
  if (code != INSTALL_SUCCESS && code != IST_CODE_FAIL) return;
  OV_LOGS(L"%s", code == INSTALL_SUCCESS ? L"INSTALL_SUCCESS" : L"IST_CODE_FAIL");
  RemovePackageFiles();
  // A package that printed its final line is usually still running, and a
  // running program's file cannot be deleted: try again after its exit.
  if (IsFile(packagePath_)) packageInUse_ = packagePath_;
}

Utils::UniqueHandle CDownloadInstaller::HoldCheckedPackage(download::HeldFile downloaded) const {
  // The package runs with administrator rights from the install folder,
  // which the user may be able to write. Between the download and the
  // launch another process could replace it, so it is held open, denying
  // writes and deletion (a replacing rename needs deletion), and what is
  // held is checked. The runner keeps the handle until the process has
  // started. A downloader that held the file since its last byte was written
  // hands over that hold with the digest of what it wrote: nothing can have
  // changed it since, and it is not read again here.
  Utils::UniqueHandle file = std::move(downloaded.handle);
  std::string md5 = file ? downloaded.md5 : std::string();
  if (!file) {
    file.reset(CreateFileW(packagePath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      OV_LOGS(L"package cannot be held: %lu", static_cast<unsigned long>(GetLastError()));
      return file;
    }
  }
  const std::string expected = download::UrlMd5(Utils::WideToUtf8(choices_.downloadUrl));
  if (download::HasUrlMd5(expected)) {
    if (md5.empty()) md5 = download::OpenFileMd5(file.get());
    if (md5 != expected) {
      OV_LOGS(L"package changed after its check");
      return {};
    }
  }
  return file;
}

void CDownloadInstaller::RemovePackageFiles() {
  if (!packagePath_.empty()) DeleteFileW(packagePath_.c_str());
  std::lock_guard<std::mutex> lock(g_lastPackageMutex);
  if (!g_lastPackagePath.empty()) DeleteFileW(g_lastPackagePath.c_str());
  g_lastPackagePath = packagePath_;
}

std::wstring CDownloadInstaller::LastPackagePath() {
  std::lock_guard<std::mutex> lock(g_lastPackageMutex);
  return g_lastPackagePath;
}

CDownloadInstaller::PauseFunction CDownloadInstaller::SetProductWaitPause(PauseFunction pause) {
  return g_productWaitPause.exchange(pause ? pause : &SleepBetweenLooks);
}

void CDownloadInstaller::ReportDownloadFailure(const ReportRecord& report, EventExtras extras) const {
  const std::wstring path = packagePath_;
  const uint32_t network = NetworkStatusCode();
  const bool writable = !path.empty() && PassesWriteTest(path);
  Utils::HardDiskManager disk;
  disk.CheckFreeSpace(DrivePart(path));  // counts stay 0 when the query fails
  const std::wstring reason =
      DownloadFailureReason(report.number, report.text, Utils::BytesToGiB(disk.freeBytesAvailable), writable, network);
  ReportTask(L"下载失败原因", reason.c_str(), 0, std::move(extras));
}

void CDownloadInstaller::ReportFailureReason(const ReportRecord& report, bool isDownload, EventExtras extras) {
  const std::wstring reason = FailureReason(report.number, report.text);
  ReportTask(isDownload ? L"下载失败原因" : L"安装失败原因", reason.c_str(), 0, std::move(extras));
}

DWORD FindProcessByName(const wchar_t* name) {
  const Utils::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    // Counts as "not running": the caller goes on, the log keeps the cause.
    OV_LOGS(L"process snapshot failed:%lu", GetLastError());
    return 0;
  }
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (wcscmp(entry.szExeFile, name) == 0) return entry.th32ProcessID;
  }
  return 0;
}
