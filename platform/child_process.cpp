#include "platform/child_process.h"

#include <atomic>
#include <vector>

#include "platform/strings.h"

namespace Utils {
namespace {

void CloseAndClear(HANDLE& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

void MakePrivate(HANDLE handle) { SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0); }

std::atomic<bool> g_refusePolicy{false};

// Creates the process with the image-load policy. False, with the error
// set, when the attribute or the creation is refused.
bool CreatePreferringSystemDlls(wchar_t* commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& info) {
  if (g_refusePolicy) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> bytes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(bytes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
  // PROCESS_CREATION_MITIGATION_POLICY_IMAGE_LOAD_PREFER_SYSTEM32_ALWAYS_ON,
  // which the headers offer only when building for Windows 10.
  DWORD64 policy = 1ULL << 60;
  STARTUPINFOEXW extended = {};
  extended.StartupInfo = startup;
  extended.StartupInfo.cb = sizeof(extended);
  extended.lpAttributeList = list;
  const bool created = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY, &policy,
                                                 sizeof(policy), nullptr, nullptr) &&
                       CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                                      nullptr, nullptr, &extended.StartupInfo, &info);
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(list);
  SetLastError(error);
  return created;
}

// What a system answers for a policy (or a policy size) it does not know.
bool IsPolicyRefusal(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_BAD_LENGTH;
}

}  // namespace

Exception::Exception(const std::wstring& message) : message_(WideToAnsi(message)) {}

void Pipe::Create() {
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&readEnd, &writeEnd, &attributes, 0)) {
    Close();
    throw Exception();
  }
}

void Pipe::CreateSink() {
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE sink = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                  OPEN_EXISTING, 0, nullptr);
  if (sink == INVALID_HANDLE_VALUE) {
    Close();
    throw Exception();
  }
  writeEnd = sink;
}

void Pipe::Close() {
  CloseAndClear(writeEnd);
  CloseAndClear(readEnd);
}

void ChildProcess::Start(const std::wstring& commandLine) {
  if (commandLine.size() > kMaxCommandLine) throw Exception();
  commandLine.copy(commandLine_, kMaxCommandLine);
  commandLine_[commandLine.size()] = L'\0';

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input_.readEnd;
  startup.hStdOutput = output_.writeEnd;
  startup.hStdError = error_.writeEnd;

  // Our ends must not leak into the child: a copy of the output's read end
  // there is harmless, but a copy of the input's write end would keep the
  // child's input open forever.
  MakePrivate(output_.readEnd);
  if (error_.readEnd) MakePrivate(error_.readEnd);
  MakePrivate(input_.writeEnd);

  startedWithPolicy_ = preferSystemDlls_ && CreatePreferringSystemDlls(commandLine_, startup, info_);
  // Only a refusal of the policy falls back: any other failure would
  // fail the same way, and must not turn into a start without it.
  if (preferSystemDlls_ && !startedWithPolicy_ && !IsPolicyRefusal(GetLastError())) {
    info_ = {};
    throw Exception(L"CreateProcess failed: " + std::to_wstring(GetLastError()));
  }
  if (!startedWithPolicy_ &&
      !CreateProcessW(nullptr, commandLine_, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info_)) {
    info_ = {};
    throw Exception(L"CreateProcess failed: " + std::to_wstring(GetLastError()));
  }
  // Without this the parent's own copy of the output's write end would keep
  // every read waiting after the child has gone.
  CloseAndClear(output_.writeEnd);
  CloseAndClear(error_.writeEnd);
  CloseAndClear(input_.readEnd);
}

bool ChildProcess::SimulatePolicyRefusalForTesting(bool refuse) { return g_refusePolicy.exchange(refuse); }

void ChildProcess::ReleaseHandles() {
  CloseAndClear(info_.hThread);
  CloseAndClear(info_.hProcess);
  error_.Close();
  output_.Close();
  input_.Close();
}

}  // namespace Utils
