// The installer process's exit codes: what a deployment script reads after
// a quiet install, and what the windowed installer returns when it closes.
// One table, numbers never reused; a retired number stays as a comment.
//
//   code  name                    when
//   ----  ----------------------  ------------------------------------------
//      0  kSuccess                installed (the package said so, or exited 0)
//     -1  kAnotherInstaller       another installer holds the single-instance
//                                 mutex; nothing was done, nothing logged
//      1  kCannotStart            a system function is missing, the skin
//                                 cannot be loaded, or the window cannot be made
//      2  kCancelled              windowed only: closed before any installation
//                                 was tried (the exit question, "打开软件", the
//                                 already-installed question's close button)
//      3  kNotElevated            the target folder cannot be created because
//                                 access is denied, and the process runs without
//                                 administrator rights: elevated, it would be
//      4  kFolderNotCreatable     the target folder is not a full path or cannot
//                                 be created (elevated, or not for lack of rights)
//      5  kNotEnoughSpace         less than 1 GB free on the folder's volume
//      6  kNoNetwork              the network check (IsCheckNet) found no internet
//      7  kDownloadFailed         the download failed after the downloader's
//                                 own retries (or did not match its MD5)
//      8  kPackageRefused         the downloaded package is not the publisher's
//      9  kPackageFailed          the package reported a failure, exited with an
//                                 error code, could not be started or changed
//                                 after its check; its own code is in the log
//     10  kProductRunning         the product, or an earlier version's
//                                 uninstaller copy, runs and may not be replaced
//     11  kUninstallFailed        the earlier version's uninstaller failed or was
//                                 refused, so the new version was not installed
#pragma once

enum class ExitCode : int {
  kSuccess = 0,
  kAnotherInstaller = -1,
  kCannotStart = 1,
  kCancelled = 2,
  kNotElevated = 3,
  kFolderNotCreatable = 4,
  kNotEnoughSpace = 5,
  kNoNetwork = 6,
  kDownloadFailed = 7,
  kPackageRefused = 8,
  kPackageFailed = 9,
  kProductRunning = 10,
  kUninstallFailed = 11,
};

// "success", "download failed", ... as the log names the outcome.
const wchar_t* ExitCodeName(ExitCode code);
