#include "install/uninstaller.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>

#include "install/child_output.h"
#include "install/console_protocol.h"
#include "install/report_codes.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/sysinfo.h"
#include "platform/thread.h"

CUnInstaller::CUnInstaller(PhaseCallback report, std::wstring uninstallerPath, std::wstring previousFolder)
    : report_(std::move(report)),
      uninstallerPath_(std::move(uninstallerPath)),
      previousFolder_(std::move(previousFolder)) {}

CUnInstaller::~CUnInstaller() { thread_.reset(); }

std::wstring CUnInstaller::MakeCommandLine() const {
  std::wstring user;
  const bool consoleUserIsAdmin = Utils::GetConsoleUserName(user) && Utils::IsUserAdmin(user);
  // The program path is quoted: the copy lies in the user's temporary folder,
  // and an unquoted path with a space (a user name such as "Ann Lee") lets
  // CreateProcess try "C:\Users\Ann.exe" first. "_?=" stays unquoted and
  // last, as the uninstaller reads the rest of the line as its folder.
  std::wstring line = L"\"" + uninstallerPath_ + L"\" /S -adminact=";
  line += consoleUserIsAdmin ? L"true" : L"false";
  line += L" -authorizationact=";
  line += Utils::IsAdmin() ? L"true" : L"false";
  line += L" -console=show _?=" + previousFolder_;
  return line;
}

void CUnInstaller::Start() {
  commandLine_ = MakeCommandLine();
  RestartWorker(thread_, L"UnInstaller", [this] { Run(); });
}

void CUnInstaller::Wait() {
  if (thread_) thread_->WaitAndClose();
}

int CUnInstaller::Parse(std::wstring_view text) {
  const protocol::ChunkOutcome outcome = protocol::ParseUninstallerText(text, codePage_);
  for (const protocol::Report& r : outcome.reports) report_(r.code, r.number, r.text.c_str());
  codePage_ = outcome.codePage;
  return outcome.result;
}

namespace {
std::atomic<DWORD> g_exitWaitMs{60000};
}  // namespace

DWORD CUnInstaller::SetExitWaitForTesting(DWORD ms) { return g_exitWaitMs.exchange(ms); }

void CUnInstaller::End(bool succeeded) {
  if (runEnded) runEnded(succeeded);
}

int CUnInstaller::Run() {
  if (uninstallerPath_.empty() || !PathFileExistsW(uninstallerPath_.c_str())) {
    report_(UNIST_CODE_FAIL, kFailNoUninstaller, kNoUninstallerText);
    End(false);
    return 0;
  }
  report_(UNIST_CODE_PROGRESS, 0, L"");
  child_.reset();
  child_ = LaunchChild(commandLine_);
  if (!child_) {
    report_(UNIST_CODE_FAIL, kFailLaunch, L"");
    End(false);
    return 0;
  }
  ChildOutputReader reader(*child_);
  bool closingReport = true;
  int outcome = protocol::kChunkOpen;  // the last final line's
  auto handle = [&](const std::string& lines) {
    if (lines.empty()) return;
    const int result = Parse(protocol::DecodeChunk(lines, codePage_));
    if (result == protocol::kChunkOpen) return;
    closingReport = false;  // reading goes on until the exit
    outcome = result;
  };
  // An uninstaller that said "State=Success" may still be removing files;
  // the next phase waits for its exit, but not for ever.
  ULONGLONG deadline = 0;
  bool stillRunning = false;
  while (reader.ChildRunning()) {
    if (outcome == protocol::kChunkSuccess && reader.BufferedBytes() == 0) {
      // Nothing to read: a blocking read here could wait past the limit.
      const ULONGLONG now = GetTickCount64();
      if (!deadline) deadline = now + g_exitWaitMs.load();
      if (now >= deadline) {
        stillRunning = true;
        break;
      }
      WaitForSingleObject(child_->process(), static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)));
      continue;
    }
    const ChildOutputReader::Chunk chunk = reader.Read();
    if (chunk.ok) handle(chunk.lines);
    // An uninstaller that closed its output but runs on makes every read
    // return at once: pause instead of spinning until it exits.
    if (chunk.bytes.empty()) ChildOutputReader::Pause();
  }
  if (stillRunning) {
    // Not terminated: stopping an uninstaller half-way could leave less than
    // either version. The sequence ends here instead.
    OV_LOGS(L"uninstaller still running %lu ms after its success", static_cast<unsigned long>(g_exitWaitMs.load()));
    child_.reset();
    report_(UNIST_CODE_ERROR, 0, kUninstallerStillRunningText);
    End(false);
    return 0;
  }
  // Lines written just before the exit ("Error=" among them) are still in
  // the pipe; take them, but nothing that descendants write later.
  for (DWORD left = reader.BufferedBytes(); left > 0;) {
    const ChildOutputReader::Chunk chunk = reader.Read();
    if (chunk.bytes.empty()) break;
    handle(chunk.lines);
    left -= std::min<DWORD>(left, static_cast<DWORD>(chunk.bytes.size()));
  }
  handle(reader.Rest());
  WaitForSingleObject(child_->process(), INFINITE);
  child_.reset();
  if (closingReport) {
    report_(UNIST_CODE_SUCCESS, kExitedWithoutFinalLine, L"");
    outcome = protocol::kChunkSuccess;
  }
  End(outcome == protocol::kChunkSuccess);
  return 0;
}

std::wstring UninstallerCopyPath() {
  const std::wstring folder = Utils::GetTempWorkFolder();
  if (folder.empty()) return {};
  return folder + L"\\ONVelqor_un_asa.exe";  // the folder ends in "\": Windows accepts the pair
}

std::wstring PreviousInstallFolder(const std::wstring& recordedUninstaller) {
  wchar_t folder[MAX_PATH] = {};
  recordedUninstaller.copy(folder, MAX_PATH - 1);
  PathRemoveFileSpecW(folder);
  return folder;
}

UninstallPreparation PrepareUninstallerCopy(const std::wstring& recordedUninstaller) {
  UninstallPreparation prepared{UninstallerCopyPath(), PreviousInstallFolder(recordedUninstaller)};
  if (prepared.copyPath.empty()) return prepared;
  // A copy left by an earlier run must not be run in place of this one when
  // the copy below fails.
  DeleteFileW(prepared.copyPath.c_str());
  if (!CopyFileW(recordedUninstaller.c_str(), prepared.copyPath.c_str(), FALSE))
    OV_LOGS(L"copy of the uninstaller failed: %d", static_cast<int>(GetLastError()));
  return prepared;
}
