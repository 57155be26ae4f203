// Owning handle types: each releases what it holds when it goes out of
// scope, so an early return or an exception cannot leak a handle. Nothing
// else in the code base calls CloseHandle, fclose, RegCloseKey, FindClose or
// FreeLibrary on a handle it owns; it holds one of these instead.
//
// Kernel and find handles have two "nothing" values (null and
// INVALID_HANDLE_VALUE, depending on the function that made them); both are
// stored as empty, so `if (handle)` means "holds a real one".
//
// Ownership: a value of these types has one owner and moves, never copies.
// None is shared between threads by itself; the owner says who may use it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

namespace Utils {

// A handle-like value with a release function. Traits gives the type, its
// release and what counts as empty:
//   struct Traits { using Type = ...; static bool IsEmpty(Type); static void Release(Type); };
template <typename Traits>
class Owned {
 public:
  using Type = typename Traits::Type;

  Owned() = default;
  explicit Owned(Type value) : value_(Traits::IsEmpty(value) ? Type() : value) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : value_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Type get() const { return value_; }
  explicit operator bool() const { return !Traits::IsEmpty(value_); }

  // Gives up ownership without releasing.
  Type release() { return std::exchange(value_, Type()); }

  // Releases what is held, then holds `value`.
  void reset(Type value = Type()) {
    const Type old = std::exchange(value_, Traits::IsEmpty(value) ? Type() : value);
    if (!Traits::IsEmpty(old)) Traits::Release(old);
  }

  // For functions that return a handle through a pointer: releases what is
  // held and lends the slot. Whatever "nothing" value the function writes
  // there on failure still counts as empty.
  Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_ = Type();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static bool IsEmpty(HANDLE value) { return value == nullptr || value == INVALID_HANDLE_VALUE; }
  static void Release(HANDLE value) { CloseHandle(value); }
};
struct FindHandleTraits {
  using Type = HANDLE;
  static bool IsEmpty(HANDLE value) { return value == nullptr || value == INVALID_HANDLE_VALUE; }
  static void Release(HANDLE value) { FindClose(value); }
};
struct RegistryKeyTraits {
  using Type = HKEY;
  static bool IsEmpty(HKEY value) { return value == nullptr; }
  static void Release(HKEY value) { RegCloseKey(value); }
};
struct LibraryTraits {
  using Type = HMODULE;
  static bool IsEmpty(HMODULE value) { return value == nullptr; }
  static void Release(HMODULE value) { FreeLibrary(value); }
};
struct StdioFileTraits {
  using Type = FILE*;
  static bool IsEmpty(FILE* value) { return value == nullptr; }
  static void Release(FILE* value) { fclose(value); }
};

using UniqueHandle = Owned<KernelHandleTraits>;      // files, events, threads, processes, pipes, snapshots
using UniqueFindHandle = Owned<FindHandleTraits>;    // FindFirstFileW
using UniqueRegistryKey = Owned<RegistryKeyTraits>;  // RegOpenKeyExW, RegCreateKeyExW
using UniqueLibrary = Owned<LibraryTraits>;          // LoadLibraryExW
using UniqueStdioFile = Owned<StdioFileTraits>;      // _wfopen

// What CreateProcessW returns, owned: both handles close with this value.
struct ProcessHandles {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD processId = 0;

  ProcessHandles() = default;
  explicit ProcessHandles(const PROCESS_INFORMATION& info)
      : process(info.hProcess), thread(info.hThread), processId(info.dwProcessId) {}
};

}  // namespace Utils
