// Worker-thread wrapper. Ownership: the object that creates a Thread owns
// it and is the only one to resume or release it; the started thread touches
// only the argument and the callable it was given. The thread is created
// suspended, so the owner finishes its own set-up before any work starts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/handles.h"

namespace Utils {

class Thread {
 public:
  using Callable = std::function<void(void*)>;

  // Starts the OS thread suspended and names it for debuggers ("t<id>" when
  // the name is empty). A failed start leaves handle() null.
  Thread(void* argument, const wchar_t* name, Callable callable);
  ~Thread();  // Release()
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  HANDLE handle() const { return handle_.get(); }
  DWORD id() const { return id_; }
  const std::wstring& name() const { return name_; }

  // Waits without a time limit, closes the handle, forgets id, name and callable.
  void Release();
  // Only waits and closes the handle.
  void WaitAndClose();

  static unsigned __stdcall CallBack(void* self);

 private:
  DWORD id_ = 0xFFFFFFFF;
  UniqueHandle handle_;
  Callable callable_;
  void* argument_ = nullptr;
  std::wstring name_;
};

// Announces a thread name with the debugger convention (exception 0x406D1388).
// Never fails visibly: the exception is always swallowed.
void SetDebuggerThreadName(DWORD threadId, const char* name);

}  // namespace Utils
