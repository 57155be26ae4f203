#include "install/uninstaller.h"

#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>
#include <objbase.h>

#include <atomic>
#include <cwchar>

#include "install/child_output.h"
#include "install/console_protocol.h"
#include "install/report_codes.h"
#include "platform/handles.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/publisher_check.h"
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

void CUnInstaller::Run() {
  if (uninstallerPath_.empty() || !PathFileExistsW(uninstallerPath_.c_str())) {
    report_(UNIST_CODE_FAIL, kFailNoUninstaller, kNoUninstallerText);
    End(false);
    return;
  }
  // Held (no writes, no deletion) from its check to its launch, as the
  // package is: it runs with administrator rights.
  Utils::UniqueHandle held(CreateFileW(uninstallerPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) OV_LOGS(L"uninstaller cannot be opened:%lu:%s", GetLastError(), uninstallerPath_.c_str());
  const std::wstring refused =
      !held ? std::wstring(L"cannot be opened") : Utils::RefusedByPublisherCheck(held.get(), uninstallerPath_);
  if (!refused.empty()) {
    report_(UNIST_CODE_FAIL, kFailUntrustedUninstaller,
            (std::wstring(kUntrustedUninstallerText) + L": " + refused).c_str());
    End(false);
    return;
  }
  report_(UNIST_CODE_PROGRESS, 0, L"");
  child_.reset();
  child_ = LaunchChild(commandLine_);
  held.reset();  // the process has its image now
  if (!child_) {
    report_(UNIST_CODE_FAIL, kFailLaunch, L"");
    End(false);
    return;
  }
  ChildOutputReader reader(*child_);
  bool closingReport = true;
  int outcome = protocol::kChunkOpen;  // the last final line's
  // Reading goes on after a final line until the exit: the last one decides.
  auto handle = [&](const std::string& lines) {
    if (lines.empty()) return false;
    const int result = Parse(protocol::DecodeChunk(lines, codePage_));
    if (result == protocol::kChunkOpen) return false;
    closingReport = false;
    outcome = result;
    return false;
  };
  // An uninstaller that said "State=Success" may still be removing files;
  // the next phase waits for its exit, but not for ever.
  const OutputEnd end = FollowChildOutput(
      reader, handle, [&] { return outcome == protocol::kChunkSuccess; }, g_exitWaitMs.load());
  if (end == OutputEnd::kRanOn) {
    // Not terminated: stopping an uninstaller half-way could leave less than
    // either version. The sequence ends here instead.
    OV_LOGS(L"uninstaller still running %lu ms after its success", static_cast<unsigned long>(g_exitWaitMs.load()));
    child_.reset();
    report_(UNIST_CODE_ERROR, 0, kUninstallerStillRunningText);
    End(false);
    return;
  }
  WaitForSingleObject(child_->process(), INFINITE);
  child_.reset();
  if (closingReport) {
    report_(UNIST_CODE_SUCCESS, kExitedWithoutFinalLine, L"");
    outcome = protocol::kChunkSuccess;
  }
  End(outcome == protocol::kChunkSuccess);
}

namespace {

constexpr wchar_t kCopyFolderPrefix[] = L"ovun-";

// Deletes the copy in one copy folder, then the folder. A copy that still
// runs cannot be deleted: both stay, and the next run tries again.
Utils::SystemResult DeleteCopyFolder(const std::wstring& folder) {
  if (!DeleteFileW((folder + L"\\" + kUninstallerCopyName).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    return Utils::SystemResult::LastError();
  if (!RemoveDirectoryW(folder.c_str())) return Utils::SystemResult::LastError();
  return {};
}

// Removes the folders of earlier copies; one that never started is ended first.
void RemoveEarlierCopies(const std::wstring& base) {
  WIN32_FIND_DATAW found;
  const Utils::UniqueFindHandle search(FindFirstFileW((base + kCopyFolderPrefix + L"*").c_str(), &found));
  if (!search) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const std::wstring folder = base + found.cFileName;
    // A copy whose installer was killed while starting it never runs.
    EndNeverStartedRuns(folder + L"\\" + kUninstallerCopyName);
    DeleteCopyFolder(folder);
  } while (FindNextFileW(search.get(), &found));
}

// A folder of an unguessable name that did not exist before (creation
// fails on an existing one, so nothing planted in advance is used), with
// the admin-only descriptor when asked. Ends in "\"; empty on failure, with
// the failing call's error in `error`.
std::wstring CreateFreshFolder(const std::wstring& base, bool adminOnly, DWORD& error) {
  error = ERROR_SUCCESS;
  Utils::UniqueLocalMemory<void> descriptor;
  if (adminOnly && !ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyFolderSddl, SDDL_REVISION_1,
                                                                         descriptor.put(), nullptr)) {
    error = GetLastError();
    return {};
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
  std::wstring created;
  for (int attempt = 0; attempt < 8 && created.empty(); ++attempt) {
    GUID guid = {};
    if (const HRESULT made = CoCreateGuid(&guid); FAILED(made)) {
      error = static_cast<DWORD>(made);
      break;
    }
    wchar_t name[40] = {};
    _snwprintf(name, 39, L"%08lx%04x%04x%02x%02x%02x%02x", static_cast<unsigned long>(guid.Data1), guid.Data2,
               guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3]);
    const std::wstring folder = base + kCopyFolderPrefix + name;
    if (CreateDirectoryW(folder.c_str(), adminOnly ? &attributes : nullptr))
      created = folder + L"\\";
    else if ((error = GetLastError()) != ERROR_ALREADY_EXISTS)
      break;
  }
  return created;
}

}  // namespace

// SYSTEM and Administrators may do anything, users only read and run;
// protected, so nothing is inherited from a parent users can write.
const wchar_t kAdminOnlyFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)";

std::wstring UninstallerCopyBase(bool elevated) {
  if (!elevated) return Utils::GetTempWorkFolder();
  // The user's temp folder is the user's: anything could be planted beside
  // a copy there, or the copy replaced, before it runs elevated. The
  // system's temp folder lets users create entries but not change ours.
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH - 8) return {};
  return std::wstring(windows) + L"\\Temp\\";
}

std::wstring PreviousInstallFolder(const std::wstring& recordedUninstaller) {
  wchar_t folder[MAX_PATH] = {};
  recordedUninstaller.copy(folder, MAX_PATH - 1);
  PathRemoveFileSpecW(folder);
  return folder;
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  if (path.empty() || folder.empty()) return false;
  // Full paths: "..", "." and "/" are resolved before comparing.
  auto full = [](const std::wstring& p) {
    const DWORD needed = GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring out(needed, L'\0');
    const DWORD written = GetFullPathNameW(p.c_str(), needed, out.data(), nullptr);
    out.resize(written < needed ? written : 0);
    return out;
  };
  std::wstring inside = full(folder);
  const std::wstring candidate = full(path);
  while (!inside.empty() && inside.back() == L'\\') inside.pop_back();
  if (inside.empty() || candidate.size() <= inside.size() + 1 || candidate[inside.size()] != L'\\') return false;
  return CompareStringOrdinal(candidate.c_str(), static_cast<int>(inside.size()), inside.c_str(),
                              static_cast<int>(inside.size()), TRUE) == CSTR_EQUAL;
}

void RemoveUninstallerCopy(const UninstallPreparation& prepared) {
  if (prepared.copyPath.empty()) return;
  const std::wstring folder = PreviousInstallFolder(prepared.copyPath);  // the copy's own folder
  if (const Utils::SystemResult removed = DeleteCopyFolder(folder); !removed)
    OV_LOGS(L"the uninstaller copy stays until the next upgrade: %lu:%s", removed.error, folder.c_str());
}

UninstallPreparation PrepareUninstallerCopy(const std::wstring& recordedUninstaller, bool elevated) {
  UninstallPreparation prepared{{}, PreviousInstallFolder(recordedUninstaller)};
  const std::wstring base = UninstallerCopyBase(elevated);
  if (base.empty()) {
    OV_LOGS(L"no base folder for the uninstaller copy: %d", static_cast<int>(GetLastError()));
    return prepared;
  }
  RemoveEarlierCopies(base);
  // A fresh folder per run: a fixed name would have to be deleted first,
  // which fails (or pulls the file from under it) while an earlier copy
  // still runs, and could be prepared by someone else.
  DWORD error = ERROR_SUCCESS;
  const std::wstring folder = CreateFreshFolder(base, elevated, error);
  if (folder.empty()) {
    OV_LOGS(L"no folder for the uninstaller copy: %d", static_cast<int>(error));
    return prepared;
  }
  prepared.copyPath = folder + kUninstallerCopyName;
  if (!CopyFileW(recordedUninstaller.c_str(), prepared.copyPath.c_str(), TRUE))
    OV_LOGS(L"copy of the uninstaller failed: %d", static_cast<int>(GetLastError()));
  return prepared;
}
