#include "install/installer.h"

#include <windows.h>

#include <cwchar>

#include "install/child_output.h"
#include "install/report_codes.h"
#include "platform/child_process.h"
#include "platform/log.h"
#include "platform/thread.h"

namespace {

const wchar_t* Flag(bool value) { return value ? L"true" : L"false"; }

}  // namespace

CInstaller::CInstaller(PhaseCallback report, std::wstring packageCommand, InstallChoices choices_,
                       std::wstring extraArguments)
    : choices(std::move(choices_)),
      report_(std::move(report)),
      packageCommand_(std::move(packageCommand)),
      extraArguments_(std::move(extraArguments)) {}

CInstaller::~CInstaller() {
  thread_.reset();
  heldPackage_.reset();  // held for a run that never started
}

void CInstaller::HoldPackage(Utils::UniqueHandle file) { heldPackage_ = std::move(file); }

std::wstring CInstaller::MakeCommandLine() const {
  std::wstring line = packageCommand_;
  line += L" /S -console=show -version=1.0.0";
  line += L" -adminact=";
  line += Flag(choices.consoleUserIsAdmin);
  line += L" -authorizationact=";
  line += Flag(choices.processIsElevated);
  line += L" -dsc=";
  line += Flag(choices.desktopShortcut);
  line += L" -ssc=";
  line += Flag(choices.quickLaunch);
  if (!choices.languageTag.empty()) line += L" -inslang=\"" + choices.languageTag + L"\"";
  if (!extraArguments_.empty()) line += L" " + extraArguments_;  // verbatim: the settings file's author quotes
  const std::wstring& installFolder = choices.installFolder;
  if (!installFolder.empty()) {
    // Backslashes before a closing quote escape it when the package splits
    // its command line ("D:\" would swallow the quote and the rest of the
    // line): double the folder's trailing ones.
    const size_t trailing = installFolder.size() - (installFolder.find_last_not_of(L'\\') + 1);
    line += L" -instdir=\"" + installFolder + std::wstring(trailing, L'\\') + L"\"";
    line += L" /D=" + installFolder;  // unquoted and last, as silent installers expect
  }
  return line;
}

void CInstaller::Start() {
  commandLine_ = MakeCommandLine();
  RestartWorker(thread_, L"ABDEF", [this] { Run(); });
}

void CInstaller::Wait() {
  if (thread_) thread_->WaitAndClose();
}

int CInstaller::Parse(std::wstring_view text) {
  protocol::ChunkOutcome outcome = protocol::ParsePackageText(text, codePage_);
  for (const protocol::Report& r : outcome.reports) {
    if (r.key == L"ExePath=") OV_LOGS(L"ExePath: %s", r.text.c_str());
    report_(r.code, r.number, r.text.c_str());
  }
  codePage_ = outcome.codePage;
  if (outcome.hasVersion) version_ = outcome.version;
  return outcome.result;
}

void CInstaller::Run() {
  report_(IST_CODE_START, 0, L"");
  report_(IST_CODE_PROGRESS, 0, L"");
  // The install folder may be one users can write: a DLL planted beside the
  // package must not be loaded in place of a system one.
  child_ = LaunchChild(commandLine_, true);
  if (child_ && !child_->startedWithSystemDllPolicy()) OV_LOGS(L"package started without the system-DLL policy");
  // The process has its image now: the file the check saw is the one that runs.
  heldPackage_.reset();
  if (!child_) {
    report_(IST_CODE_FAIL, kFailLaunch, L"");
    if (runEnded) runEnded();
    return;
  }
  ChildOutputReader reader(*child_);
  // The run settles at the first final line; what the package prints after
  // it is not read. Without one, everything it wrote before its exit is
  // read: a final line behind the first 1024 bytes must not turn a failure
  // into a success.
  const bool settled =
      FollowChildOutput(reader, [this](const std::string& lines) {
        return !lines.empty() && Parse(protocol::DecodeChunk(lines, codePage_)) != protocol::kChunkOpen;
      }) == OutputEnd::kSettled;
  WaitForSingleObject(child_->process(), INFINITE);
  const DWORD exitCode = reader.ExitCode();
  child_.reset();
  // Whatever its lines said: support reads the package's own code here.
  OV_LOGS(L"package exited with code %s", ExitCodeNumber(exitCode).c_str());
  if (!settled) {
    // No final line: only a clean exit counts as an installation. A crash
    // or an exit with an error code must not be recorded as installed.
    if (exitCode == 0)
      report_(INSTALL_SUCCESS, kExitedWithoutFinalLine, L"");
    else
      report_(IST_CODE_FAIL, kExitedWithoutFinalLine, ExitCodeFailureText(exitCode).c_str());
  }
  if (runEnded) runEnded();
}

std::wstring ExitCodeNumber(DWORD exitCode) {
  wchar_t code[16] = {};
  // Small codes are the package's own; large ones are crash statuses, read
  // in hexadecimal (0xC0000005).
  _snwprintf(code, 15, exitCode < 0x10000 ? L"%lu" : L"0x%08lX", static_cast<unsigned long>(exitCode));
  return code;
}

std::wstring ExitCodeFailureText(DWORD exitCode) { return std::wstring(kPackageExitText) + ExitCodeNumber(exitCode); }
