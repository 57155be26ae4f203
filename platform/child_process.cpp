#include "platform/child_process.h"

#include "platform/strings.h"

namespace Utils {
namespace {

void CloseAndClear(HANDLE& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

void MakePrivate(HANDLE handle) { SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0); }

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

  if (!CreateProcessW(nullptr, commandLine_, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info_)) {
    info_ = {};
    throw Exception();
  }
  // Without this the parent's own copy of the output's write end would keep
  // every read waiting after the child has gone.
  CloseAndClear(output_.writeEnd);
  CloseAndClear(error_.writeEnd);
  CloseAndClear(input_.readEnd);
}

void ChildProcess::ReleaseHandles() {
  CloseAndClear(info_.hThread);
  CloseAndClear(info_.hProcess);
  error_.Close();
  output_.Close();
  input_.Close();
}

}  // namespace Utils
