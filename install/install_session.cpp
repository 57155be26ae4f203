#include "install/install_session.h"

#include <algorithm>
#include <utility>

#include "download/downloader.h"
#include "install/failure_reasons.h"
#include "install/report_codes.h"
#include "install/uninstaller.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "platform/sysinfo.h"
#include "platform/system_checks.h"

namespace {

InstallSession::FreeSpaceQuery& FreeSpaceOverride() {
  static InstallSession::FreeSpaceQuery query;
  return query;
}

InstallSession::NetworkCheck& NetworkCheckOverride() {
  static InstallSession::NetworkCheck check;
  return check;
}

bool FreeBytesOf(const std::wstring& folder, uint64_t* freeBytes) {
  if (FreeSpaceOverride()) return FreeSpaceOverride()(folder, freeBytes);
  // The folder's own volume root: "C:\", a mounted folder, or "\\server\share\"
  // (a share has no drive letter to take).
  wchar_t root[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(folder.c_str(), root, MAX_PATH)) {
    OV_LOGS(L"GetVolumePathNameW(%s) failed: %lu", folder.c_str(), GetLastError());
    return false;
  }
  Utils::HardDiskManager disk;
  if (!disk.CheckFreeSpace(root)) return false;
  *freeBytes = disk.freeBytesAvailable;
  return true;
}

}  // namespace

const wchar_t* ExitCodeName(ExitCode code) {
  switch (code) {
    case ExitCode::kSuccess:
      return L"success";
    case ExitCode::kAnotherInstaller:
      return L"another installer is running";
    case ExitCode::kCannotStart:
      return L"cannot start";
    case ExitCode::kCancelled:
      return L"cancelled";
    case ExitCode::kNotElevated:
      return L"not elevated";
    case ExitCode::kFolderNotCreatable:
      return L"folder not creatable";
    case ExitCode::kNotEnoughSpace:
      return L"not enough space";
    case ExitCode::kNoNetwork:
      return L"no network";
    case ExitCode::kDownloadFailed:
      return L"download failed";
    case ExitCode::kPackageRefused:
      return L"package refused by the publisher check";
    case ExitCode::kPackageFailed:
      return L"package failed";
    case ExitCode::kProductRunning:
      return L"product running";
    case ExitCode::kUninstallFailed:
      return L"earlier version not removed";
  }
  return L"?";
}

InstallSession::InstallSession(SequenceReport report, SessionOptions options)
    : options_(std::move(options)),
      orchestrator_(std::make_unique<CDownloadInstaller>(std::move(report), options_.sequence)) {
  if (options_.sequenceEnded)
    orchestrator_->sequenceEnded = [ended = options_.sequenceEnded](SequencePhase) { ended(); };
  state_.Read();
  installedBefore_ = !state_.registeredInstallPath.empty();
}

InstallSession::~InstallSession() {
  StopSequence();
  RemoveEmptyCreatedFolders();
}

InstallSession::FreeSpaceQuery InstallSession::SetFreeSpaceQuery(FreeSpaceQuery query) {
  return std::exchange(FreeSpaceOverride(), std::move(query));
}

InstallSession::NetworkCheck InstallSession::SetNetworkCheck(NetworkCheck check) {
  return std::exchange(NetworkCheckOverride(), std::move(check));
}

std::wstring InstallSession::TargetFolder() {
  const std::wstring byDefault = state_.DefaultFolder();  // also refreshes the account's facts
  if (options_.chosenFolder) return state_.ChosenFolder(*options_.chosenFolder);
  return installedBefore_ ? state_.registeredInstallPath : byDefault;
}

ExitCode InstallSession::End(ExitCode outcome, std::wstring cause) {
  outcome_ = outcome;
  cause_ = std::move(cause);
  OV_LOGS(L"installation ended: %s (exit code %d)%s%s", ExitCodeName(outcome), static_cast<int>(outcome),
          cause_.empty() ? L"" : L": ", cause_.c_str());
  return outcome;
}

bool InstallSession::ProductRunning() {
  if (FindProcessByName(kProductExe) == 0) return false;
  End(ExitCode::kProductRunning, std::wstring(kProductExe) + L" is running");
  return true;
}

bool InstallSession::UninstallerCopyRunning() {
  if (FindProcessByName(kUninstallerCopyName) == 0) return false;
  End(ExitCode::kProductRunning, std::wstring(kUninstallerCopyName) + L" is running");
  return true;
}

ExitCode InstallSession::PrepareFolder(const std::wstring& folder) {
  // An empty or relative folder would land under whatever the current drive
  // and folder happen to be ("\ONVelqor" at the drive's root): refused before
  // anything is created, as a folder that cannot be made is.
  const Utils::SystemResult made = Utils::IsFullyQualifiedPath(folder)
                                       ? Utils::CreateDirectories(folder, &createdFolders_)
                                       : Utils::SystemResult{ERROR_BAD_PATHNAME};
  if (!made) {
    OV_LOGS(L"cannot create %s:%lu", folder.c_str(), made.error);
    const std::wstring cause = L"cannot create " + folder + L": error " + Utils::DecimalText(made.error);
    // The manifest asks for elevation, but a launcher may refuse it (a
    // standard user's scheduled task, RunAsInvoker): a folder the system
    // denies to such a process is the administrator's to make.
    if (made.error == ERROR_ACCESS_DENIED && !Utils::IsAdmin()) return End(ExitCode::kNotElevated, cause);
    return End(ExitCode::kFolderNotCreatable, cause);
  }
  uint64_t freeBytes = 0;
  if (FreeBytesOf(folder, &freeBytes)) {
    if (Utils::BytesToGiB(freeBytes) < 1.0) {
      OV_LOGS(L"%s: %I64u bytes free, less than 1 GB", folder.c_str(), freeBytes);
      return End(ExitCode::kNotEnoughSpace,
                 folder + L": " + Utils::DecimalText(static_cast<long long>(freeBytes)) + L" bytes free");
    }
  } else {
    // A volume that cannot say how much room it has (some shares) is not
    // taken for a full one: the package reports a real shortage itself.
    OV_LOGS(L"free space of %s unknown; installing anyway", folder.c_str());
  }
  return ExitCode::kSuccess;
}

uint32_t InstallSession::CheckNetwork() {
  const NetworkCheck check = NetworkCheckOverride();
  return check ? check() : Utils::CheckNetwork();
}

bool InstallSession::AcceptNetwork(uint32_t result) {
  if ((result >> Utils::kNetworkReasonShift) == 0) return true;
  wchar_t text[64] = {};
  _snwprintf(text, 63, L"the network check answered 0x%08x", result);
  End(ExitCode::kNoNetwork, text);
  return false;
}

void InstallSession::Init(const std::wstring& folder, bool desktopShortcut, bool quickLaunch,
                          const std::wstring& languageTag) {
  if (!orchestrator_) return;
  state_.reportedInstallFolder = folder;  // the install folder, until the package names its own
  const std::wstring uninstaller = state_.SkipsUninstall(folder) ? L"" : state_.registeredUninstallerPath;
  orchestrator_->Init({.downloadUrl = options_.downloadUrl,
                       .previousInstallPath = state_.registeredInstallPath,
                       .recordedUninstaller = uninstaller,
                       .installFolder = folder,
                       .desktopShortcut = desktopShortcut,
                       .quickLaunch = quickLaunch,
                       .consoleUserIsAdmin = state_.consoleUserIsAdmin,
                       .processIsElevated = state_.processIsElevated,
                       .languageTag = languageTag});
}

void InstallSession::Start() {
  if (orchestrator_) orchestrator_->Start();
}

void InstallSession::StopSequence() { orchestrator_.reset(); }

void InstallSession::ReportDownloaderStarted() {
  if (downloaderStartedReported_) return;
  downloaderStartedReported_ = true;
  ReportTask(L"下载器启动", L"", 0, Ab());
}

std::optional<ExitCode> InstallSession::Handle(const ReportRecord& report) {
  switch (report.code) {
    case DL_CODE_START:
      if (!downloaderStartedReported_) {
        abValue_ = options_.abGroup;
        ReportDownloaderStarted();
      }
      stopwatchRunning_ = true;
      stopwatchStart_ = GetTickCount();
      ReportTask(L"开始下载大包", L"", 0, Ab());
      break;
    case DL_CODE_SUCCESS:
      ReportTask(L"大包下载完毕", L"", static_cast<float>(downloadMs()) / 1000.0f, Ab());
      break;
    case DL_CODE_FAIL:
      // The reason was gathered on the orchestrator's worker: nothing slow here.
      CDownloadInstaller::ReportDownloadFailure(report, Ab());
      return End(report.number == kFailUntrustedPackage ? ExitCode::kPackageRefused : ExitCode::kDownloadFailed,
                 report.reason.empty() ? report.text : report.reason);
    case DL_CODE_NOTICE:
      CDownloadInstaller::ReportFailureReason(report, true, Ab());
      break;
    case IST_CODE_START:
      OV_LOGS(L"package started");
      state_.WriteSetIni();
      setIniFolders_.push_back(state_.reportedInstallFolder);
      break;
    case INSTALL_SUCCESS:
      ReportTask(L"安装成功", L"", 0, Ab());
      state_.Write();
      state_.WriteSetIni();
      return End(ExitCode::kSuccess, L"");
    case IST_CODE_FAIL:
      CDownloadInstaller::ReportFailureReason(report, false, Ab());
      return End(ExitCode::kPackageFailed, FailureReason(report.number, report.text));
    case IST_INFO_INST_PATH:
      state_.reportedInstallFolder = report.text;
      break;
    case IST_INFO_UNINST_EP:
      state_.reportedUninstallerPath = report.text;
      break;
    case UNIST_CODE_FAIL:
    case UNIST_CODE_ERROR:
      // After an error line a success may still follow from the same run;
      // a later success of the whole sequence replaces this outcome.
      return End(ExitCode::kUninstallFailed, FailureReason(report.number, report.text));
    default:
      break;
  }
  return std::nullopt;
}

void InstallSession::RemoveEmptyCreatedFolders() {
  // Our own record of a package that then failed does not keep a folder we made.
  if (outcome_ != ExitCode::kSuccess)
    for (const std::wstring& folder : setIniFolders_)
      if (std::find_if(createdFolders_.begin(), createdFolders_.end(), [&folder](const std::wstring& made) {
            return IsSameFolder(made, folder);
          }) != createdFolders_.end())
        DeleteFileW((folder + L"\\set.ini").c_str());
  // Deepest first; a folder anything else was written into is not empty and stays.
  for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
    if (RemoveDirectoryW(it->c_str())) OV_LOGS(L"removed %s: made by this installer and left empty", it->c_str());
  createdFolders_.clear();
}
