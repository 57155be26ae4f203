#include "platform/thread.h"

#include <process.h>

#include <mutex>

#include "platform/log.h"
#include "platform/strings.h"

namespace Utils {
namespace {

constexpr DWORD kSetThreadNameException = 0x406D1388;

// GCC has no __try/__except, so the naming exception is swallowed by a
// vectored handler. A debugger, if present, still sees it first.
LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* info) {
  if (info && info->ExceptionRecord && info->ExceptionRecord->ExceptionCode == kSetThreadNameException)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void SetDebuggerThreadName(DWORD threadId, const char* name) {
  static std::once_flag installed;
  std::call_once(installed, [] { AddVectoredExceptionHandler(1, SwallowThreadNameException); });
#pragma pack(push, 8)
  struct {
    DWORD type;
    LPCSTR name;
    DWORD threadId;
    DWORD flags;
  } info = {0x1000, name, threadId, 0};
#pragma pack(pop)
  RaiseException(kSetThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                 reinterpret_cast<const ULONG_PTR*>(&info));
}

Thread::Thread(void* argument, const wchar_t* name, Callable callable)
    : callable_(std::move(callable)), argument_(argument), name_(name ? name : L"") {
  unsigned id = 0;
  handle_.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Thread::CallBack, this, CREATE_SUSPENDED, &id)));
  if (!handle_) return;
  id_ = id;
  const std::string ansi = name_.empty() ? "t" + std::to_string(id_) : WideToAnsi(name_);
  SetDebuggerThreadName(id_, ansi.c_str());
}

Thread::~Thread() { Release(); }

void Thread::WaitAndClose() {
  if (!handle_) return;
  // A thread that was never resumed would never end: resume it so the wait
  // cannot hang (its callable runs, as its owner intended when creating it).
  ResumeThread(handle_.get());
  WaitForSingleObject(handle_.get(), INFINITE);
  handle_.reset();
}

void Thread::Release() {
  WaitAndClose();
  id_ = 0xFFFFFFFF;
  name_.clear();
  callable_ = nullptr;
}

unsigned __stdcall Thread::CallBack(void* self) {
  auto* thread = static_cast<Thread*>(self);
  OV_LOGS(L"THREAD BEGIN");
  if (thread->callable_) thread->callable_(thread->argument_);
  OV_LOGS(L"THREAD END");
  _endthreadex(0);
  return 0;
}

}  // namespace Utils
