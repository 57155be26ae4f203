#include "platform/child_process.h"

#include <atomic>
#include <vector>

#include "platform/log.h"
#include "platform/strings.h"

namespace Utils {
namespace {

void MakePrivate(const UniqueHandle& handle) { SetHandleInformation(handle.get(), HANDLE_FLAG_INHERIT, 0); }

// Read before anything else runs: a later call may overwrite the error.
[[noreturn]] void ThrowLastError(const char* call) { throw Exception(call, GetLastError()); }

std::atomic<bool> g_refusePolicy{false};

// Creates the process with the image-load policy. False, with the error
// set, when the attribute or the creation is refused.
bool CreatePreferringSystemDlls(wchar_t* commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& info) {
  if (g_refusePolicy) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // PROCESS_CREATION_MITIGATION_POLICY_IMAGE_LOAD_PREFER_SYSTEM32_ALWAYS_ON,
  // which the headers offer only when building for Windows 10.
  DWORD64 policy = 1ULL << 60;
  ProcThreadAttribute attribute(PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY, &policy, sizeof(policy));
  if (!attribute.ok()) return false;
  STARTUPINFOEXW extended = {};
  extended.StartupInfo = startup;
  extended.StartupInfo.cb = sizeof(extended);
  extended.lpAttributeList = attribute.list();
  return CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                        &extended.StartupInfo, &info);
}

// What a system answers for a policy (or a policy size) it does not know.
bool IsPolicyRefusal(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_BAD_LENGTH;
}

}  // namespace

ProcThreadAttribute::ProcThreadAttribute(DWORD_PTR attribute, void* value, size_t size) {
  SIZE_T bytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);  // fails, telling the size
  bytes_.resize(bytes);
  initialized_ = !bytes_.empty() && InitializeProcThreadAttributeList(list(), 1, 0, &bytes);
  ok_ = initialized_ && UpdateProcThreadAttribute(list(), 0, attribute, value, size, nullptr, nullptr);
}

ProcThreadAttribute::~ProcThreadAttribute() {
  // Keeps the error of a failed creation for the caller to read.
  const DWORD error = GetLastError();
  if (initialized_) DeleteProcThreadAttributeList(list());
  SetLastError(error);
}

Exception::Exception(const std::wstring& message) : message_(WideToAnsi(message)) {}

Exception::Exception(const char* call, DWORD error) : message_(call), error_(error) {}

void Pipe::Create() {
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &attributes, 0)) ThrowLastError("CreatePipe");
}

void Pipe::CreateSink() {
  SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  writeEnd.reset(
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_EXISTING, 0, nullptr));
  if (!writeEnd) ThrowLastError("CreateFileW");
}

void Pipe::Close() {
  writeEnd.reset();
  readEnd.reset();
}

void ChildProcess::Start(const std::wstring& commandLine) {
  if (commandLine.size() > kMaxCommandLine) throw Exception("command line", ERROR_FILENAME_EXCED_RANGE);
  commandLine.copy(commandLine_, kMaxCommandLine);
  commandLine_[commandLine.size()] = L'\0';

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input_.readEnd.get();
  startup.hStdOutput = output_.writeEnd.get();
  startup.hStdError = error_.writeEnd.get();

  // Our ends must not leak into the child: a copy of the output's read end
  // there is harmless, but a copy of the input's write end would keep the
  // child's input open forever.
  MakePrivate(output_.readEnd);
  if (error_.readEnd) MakePrivate(error_.readEnd);
  MakePrivate(input_.writeEnd);

  PROCESS_INFORMATION info = {};
  startedWithPolicy_ = preferSystemDlls_ && CreatePreferringSystemDlls(commandLine_, startup, info);
  // Only a refusal of the policy falls back: any other failure would
  // fail the same way, and must not turn into a start without it.
  if (preferSystemDlls_ && !startedWithPolicy_ && !IsPolicyRefusal(GetLastError())) ThrowLastError("CreateProcessW");
  if (!startedWithPolicy_ &&
      !CreateProcessW(nullptr, commandLine_, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    ThrowLastError("CreateProcessW");
  process_ = ProcessHandles(info);
  // Without this the parent's own copy of the output's write end would keep
  // every read waiting after the child has gone.
  output_.writeEnd.reset();
  error_.writeEnd.reset();
  input_.readEnd.reset();
}

bool ChildProcess::SimulatePolicyRefusalForTesting(bool refuse) { return g_refusePolicy.exchange(refuse); }

void ChildProcess::ReleaseHandles() {
  process_ = ProcessHandles();
  error_.Close();
  output_.Close();
  input_.Close();
}

bool ForEachProcess(const std::function<bool(const PROCESSENTRY32W&)>& visit) {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    OV_LOGS(L"process snapshot failed:%lu", GetLastError());
    return false;
  }
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    if (!visit(entry)) break;
  return true;
}

}  // namespace Utils
