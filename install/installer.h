// CInstaller runs the downloaded product package silently and turns its
// console lines into reports.
//
// Threads: the owner (the orchestrator) sets the fields and calls Start on
// any one thread; Start waits for an earlier run's worker before starting
// the next, so runs never overlap. Each run lives on its own worker thread
// "ABDEF", which owns the child process and makes every report. A run ends
// when the package has settled (a final line) or exited, and after the
// package process is gone; there is no cancellation. The destructor waits
// for the worker.
//
// Ways a run ends, each reported once:
//   launch failed             -> IST_CODE_FAIL (2)
//   "State=Fail" / "Error="   -> IST_CODE_FAIL (0 / 1000) from the parser
//   "State=Success"           -> INSTALL_SUCCESS (0) from the parser
//   exit 0 without final line -> INSTALL_SUCCESS (1)
//   other exit without one    -> IST_CODE_FAIL (1, ExitCodeFailureText)
//
// Lines are whole lines: a line the package wrote in pieces, or that a read
// cut, is parsed once its line feed (or the end of the output) arrives.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "install/console_protocol.h"
#include "install/install_choices.h"
#include "platform/handles.h"
#include "platform/phase_callback.h"

namespace Utils {
class ChildProcess;
class Thread;
}  // namespace Utils

class CInstaller {
 public:
  // packageCommand is the package's full path already inside double quotes;
  // extraArguments are appended to every command line verbatim.
  CInstaller(PhaseCallback report, std::wstring packageCommand, InstallChoices choices,
             std::wstring extraArguments = {});
  ~CInstaller();
  CInstaller(const CInstaller&) = delete;
  CInstaller& operator=(const CInstaller&) = delete;

  // Set by the owner before each Start; the run reads them without a lock.
  // The command line takes the folder, the shortcut and account flags and
  // the language from them.
  InstallChoices choices;
  // Called on the worker as the last thing of every run, once the package
  // process is gone (the owner deletes the package file only then if it was
  // still in use at the final report). Optional.
  std::function<void()> runEnded;

  // Composes the command line, waits for an earlier run, starts a new one.
  void Start();

  // Takes an open handle of the package file (shared for reading only, so
  // nobody can change, replace or delete it) and closes it once the package
  // process has started, or when the run ends without one. Call before Start.
  void HoldPackage(Utils::UniqueHandle file);

  // Waits for the current run, if any, to end.
  void Wait();

  std::wstring MakeCommandLine() const;
  const std::wstring& commandLine() const { return commandLine_; }

  // Handles one decoded chunk with the package's key table; returns
  // protocol::kChunkOpen, kChunkSuccess or kChunkFailure.
  int Parse(std::wstring_view text);

  protocol::Version installedVersion() const { return version_; }
  int codePage() const { return codePage_; }

 private:
  void Run();

  PhaseCallback report_;
  std::wstring packageCommand_;
  std::wstring extraArguments_;
  std::wstring commandLine_;
  int codePage_ = 0;  // survives from one run to the next
  protocol::Version version_;
  std::unique_ptr<Utils::Thread> thread_;
  std::unique_ptr<Utils::ChildProcess> child_;  // only while a run is under way
  Utils::UniqueHandle heldPackage_;             // see HoldPackage
};

// The text of IST_CODE_FAIL for a package that exited with this code
// without a final line: "安装包异常退出，退出码=" and the code.
std::wstring ExitCodeFailureText(DWORD exitCode);
// The code alone, as both the text and the log write it: "3", "0xC0000005".
std::wstring ExitCodeNumber(DWORD exitCode);
