// CUnInstaller removes the previous version by running a copy of its
// recorded uninstaller silently and following its console lines.
//
// Threads: the owner (the orchestrator) prepares the copy and calls Start on
// its own thread; the run lives on the worker thread "UnInstaller", which
// owns the child process and makes every report. One object serves one run.
// The run ends when the uninstaller process has exited (its output is read
// only while it runs, plus what it left in the pipe); there is no
// cancellation. The destructor waits for the worker.
//
// Ways a run ends:
//   the copy is missing             -> UNIST_CODE_FAIL (1, "可执行卸载文件不存在")
//   launch failed                   -> UNIST_CODE_FAIL (2)
//   "Error=" / "State=Fail" seen    -> UNIST_CODE_ERROR from the parser, no closing report
//   "State=Success" seen            -> UNIST_CODE_SUCCESS (0) from the parser
//   exit without a final line       -> UNIST_CODE_SUCCESS (1)
//   still running a while after its success
//                                   -> UNIST_CODE_ERROR (0, kUninstallerStillRunningText)
// runEnded then says whether the run succeeded: its last final line was
// "State=Success" (or it had none) and the process has exited. The owner
// starts the next phase from there, not from the success report: an
// uninstaller may print its success and go on removing files.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/phase_callback.h"

namespace Utils {
class ChildProcess;
class Thread;
}  // namespace Utils

// The file name of the recorded uninstaller's copy that each run starts; the
// window refuses to install while a process of this name runs.
inline constexpr wchar_t kUninstallerCopyName[] = L"ONVelqor_un_asa.exe";

class CUnInstaller {
 public:
  CUnInstaller(PhaseCallback report, std::wstring uninstallerPath, std::wstring previousFolder);
  ~CUnInstaller();
  CUnInstaller(const CUnInstaller&) = delete;
  CUnInstaller& operator=(const CUnInstaller&) = delete;

  // Composes the command line and starts the worker; returns at once.
  void Start();

  // Waits for the run, if any, to end. Called on the owner's thread only.
  void Wait();

  // Called on the worker as the last thing of every run. Optional; set
  // before Start.
  std::function<void(bool succeeded)> runEnded;

  // How long an uninstaller that reported success may run on (60 s).
  // Returns the previous limit.
  static DWORD SetExitWaitForTesting(DWORD ms);

  std::wstring MakeCommandLine() const;
  const std::wstring& commandLine() const { return commandLine_; }

  // Handles one decoded chunk with the uninstaller's key table; returns
  // protocol::kChunkOpen, kChunkSuccess or kChunkFailure.
  int Parse(std::wstring_view text);

 private:
  void Run();
  void End(bool succeeded);

  PhaseCallback report_;
  std::wstring commandLine_;
  std::wstring uninstallerPath_;
  std::wstring previousFolder_;
  int codePage_ = 0;
  std::unique_ptr<Utils::Thread> thread_;
  std::unique_ptr<Utils::ChildProcess> child_;
};

// The folder under which each run's copy of the recorded uninstaller gets a
// fresh folder of its own: the private temporary folder, or, when the
// installer runs elevated, the system's temporary folder (the fresh folder
// there is writable by administrators only). Ends in "\"; empty when it
// cannot be found or created.
std::wstring UninstallerCopyBase(bool elevated);

// The security of the elevated copy's fresh folder, in SDDL.
extern const wchar_t kAdminOnlyFolderSddl[];

// The folder that holds the recorded uninstaller (the value of "_?="): the
// path cut to 259 characters without its last component.
std::wstring PreviousInstallFolder(const std::wstring& recordedUninstaller);

// True when path names something inside folder (after resolving "..",
// "." and the like; letter case ignored).
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

struct UninstallPreparation {
  std::wstring copyPath;        // what CUnInstaller runs; empty when there is no copy
  std::wstring previousFolder;  // its "_?=" value
};
// Copies the recorded uninstaller into a fresh folder under
// UninstallerCopyBase, and removes the folders of earlier copies that no
// longer run. A failed copy is not reported here: the run then finds no
// file and says so.
UninstallPreparation PrepareUninstallerCopy(const std::wstring& recordedUninstaller, bool elevated);
// Deletes the copy and its folder once its run has ended: an upgrade leaves
// no uninstaller behind. One that still runs stays for the next preparation.
void RemoveUninstallerCopy(const UninstallPreparation& prepared);
