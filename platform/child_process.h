// A hidden console child with its standard output and input redirected to
// anonymous pipes and its standard error to the null device. The parent
// keeps only its own ends (the read end of the child's output, the write end
// of its input), so a read on the output pipe breaks once the child and every
// descendant that inherited the output have closed it. Nothing reads the
// child's errors: a pipe there would fill up (4 KiB under Wine) and block
// the child in its next write, so the null device takes them instead.
//
// Ownership: one object belongs to one worker thread from creation to
// release; nothing here is shared. Failures throw Utils::Exception with the
// failing call and its system error. It crosses exactly one folder
// boundary, into install/, where LaunchChild (install/child_output.h) catches
// it, logs the cause and hands the runners a null child; it goes no further.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace Utils {

class Exception : public std::exception {
 public:
  explicit Exception(const std::wstring& message = std::wstring());
  // A failed system call: its name (what() says it) and its error code.
  Exception(const char* call, DWORD error);
  const char* what() const noexcept override { return message_.c_str(); }
  DWORD error() const { return error_; }  // 0 when no system call failed

 private:
  std::string message_;  // in the ANSI code page
  DWORD error_ = 0;
};

// An anonymous pipe. Both ends are inheritable when created; the child's
// end is handed over at start and the parent's end made private.
struct Pipe {
  UniqueHandle writeEnd;  // first: what CreatePipe returns as the write end
  UniqueHandle readEnd;   // second
  void Create();          // throws Utils::Exception
  // A write end that never fills: the null device, inheritable, no read end.
  void CreateSink();  // throws Utils::Exception
  void Close();
};

// A one-entry attribute list for CreateProcessW with
// EXTENDED_STARTUPINFO_PRESENT, released with this object. value must stay
// valid until the process has been created.
class ProcThreadAttribute {
 public:
  ProcThreadAttribute(DWORD_PTR attribute, void* value, size_t size);
  ~ProcThreadAttribute();
  ProcThreadAttribute(const ProcThreadAttribute&) = delete;
  ProcThreadAttribute& operator=(const ProcThreadAttribute&) = delete;

  // False when the list could not be made or the attribute was refused;
  // GetLastError() then says why.
  bool ok() const { return ok_; }
  LPPROC_THREAD_ATTRIBUTE_LIST list() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(bytes_.data()); }

 private:
  std::vector<char> bytes_;
  bool initialized_ = false;
  bool ok_ = false;
};

class ChildProcess {
 public:
  // Longest command line CreateProcessW is given, without the terminator.
  static constexpr size_t kMaxCommandLine = 1023;

  ChildProcess() = default;
  ~ChildProcess() { ReleaseHandles(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Call in this order, then Start. Each throws Utils::Exception. The
  // error "pipe" is a sink (see above).
  void CreateErrorPipe() { error_.CreateSink(); }
  void CreateOutputPipe() { output_.Create(); }
  void CreateInputPipe() { input_.Create(); }

  // Starts the child hidden with the pipes as its standard handles, then
  // closes the child's ends here. Throws Utils::Exception when the command
  // line exceeds kMaxCommandLine or the process cannot be started; the pipes
  // then stay open until ReleaseHandles.
  void Start(const std::wstring& commandLine);

  // Asks, before Start, that the child's imports come from System32 before
  // its own folder (Windows 10 1607 on): a DLL planted beside a program in a
  // folder users can write then does not replace a system one. A system that
  // does not know the policy refuses it; the child then starts without it.
  void PreferSystemDlls() { preferSystemDlls_ = true; }
  // Whether the running child was started with that policy.
  bool startedWithSystemDllPolicy() const { return startedWithPolicy_; }
  // Makes the policy look unknown, as on Windows 7 and 8.
  static bool SimulatePolicyRefusalForTesting(bool refuse);

  // Closes every handle still held; safe to call more than once.
  void ReleaseHandles();

  HANDLE outputReadEnd() const { return output_.readEnd.get(); }
  HANDLE process() const { return process_.process.get(); }
  DWORD processId() const { return process_.processId; }

  // For tests of the handle rules.
  const Pipe& errorPipe() const { return error_; }
  const Pipe& outputPipe() const { return output_; }
  const Pipe& inputPipe() const { return input_; }
  HANDLE thread() const { return process_.thread.get(); }

 private:
  wchar_t commandLine_[kMaxCommandLine + 1] = {};  // CreateProcessW may write into it
  Pipe error_;
  Pipe output_;
  Pipe input_;
  ProcessHandles process_;
  bool preferSystemDlls_ = false;
  bool startedWithPolicy_ = false;
};

// Calls visit for each running process of one snapshot until it returns
// false. False when no snapshot could be taken (the error is logged).
bool ForEachProcess(const std::function<bool(const PROCESSENTRY32W&)>& visit);

}  // namespace Utils
