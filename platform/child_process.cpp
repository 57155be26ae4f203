#include "platform/child_process.h"

#include "platform/strings.h"

namespace Utils {
namespace {

void MakePrivate(const UniqueHandle& handle) { SetHandleInformation(handle.get(), HANDLE_FLAG_INHERIT, 0); }

// Read before anything else runs: a later call may overwrite the error.
[[noreturn]] void ThrowLastError(const char* call) { throw Exception(call, GetLastError()); }

}  // namespace

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
  if (!CreateProcessW(nullptr, commandLine_, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    ThrowLastError("CreateProcessW");
  process_ = ProcessHandles(info);
  // Without this the parent's own copy of the output's write end would keep
  // every read waiting after the child has gone.
  output_.writeEnd.reset();
  error_.writeEnd.reset();
  input_.readEnd.reset();
}

void ChildProcess::ReleaseHandles() {
  process_ = ProcessHandles();
  error_.Close();
  output_.Close();
  input_.Close();
}

}  // namespace Utils
