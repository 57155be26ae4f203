// Owning handle types: each releases what it holds when it goes out of
// scope, so an early return or an exception cannot leak a handle. Nothing
// else in the code base calls CloseHandle, fclose, RegCloseKey, FindClose,
// FreeLibrary, LocalFree, CoTaskMemFree or UnmapViewOfFile on a handle it
// owns; it holds one of these instead. Kinds that belong to one folder have
// their types there, built on Owned: libcurl in download/curl_handles.h, GDI
// in toolkit/gdi_handles.h, CryptoAPI in platform/crypt_handles.h.
//
// Kernel and find handles have two "nothing" values (null and
// INVALID_HANDLE_VALUE, depending on the function that made them); both are
// stored as empty, so `if (handle)` means "holds a real one".
//
// Ownership: a value of these types has one owner and moves, never copies.
// None is shared between threads by itself; the owner says who may use it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <utility>

namespace Utils {

// A handle-like value with a release function. Traits gives the type, its
// release and what counts as empty:
//   struct Traits { using Type = ...; static bool IsEmpty(Type); static bool Release(Type); };
// Release says whether the release itself succeeded; only close() asks.
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

  // Releases now and says whether that worked (or nothing was held): for a
  // written file, closing is where a buffered write error shows.
  bool close() {
    const Type old = release();
    return Traits::IsEmpty(old) || Traits::Release(old);
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
  static bool Release(HANDLE value) { return CloseHandle(value) != FALSE; }
};
struct FindHandleTraits {
  using Type = HANDLE;
  static bool IsEmpty(HANDLE value) { return value == nullptr || value == INVALID_HANDLE_VALUE; }
  static bool Release(HANDLE value) { return FindClose(value) != FALSE; }
};
struct RegistryKeyTraits {
  using Type = HKEY;
  static bool IsEmpty(HKEY value) { return value == nullptr; }
  static bool Release(HKEY value) { return RegCloseKey(value) == ERROR_SUCCESS; }
};
struct LibraryTraits {
  using Type = HMODULE;
  static bool IsEmpty(HMODULE value) { return value == nullptr; }
  static bool Release(HMODULE value) { return FreeLibrary(value) != FALSE; }
};
struct StdioFileTraits {
  using Type = FILE*;
  static bool IsEmpty(FILE* value) { return value == nullptr; }
  static bool Release(FILE* value) { return fclose(value) == 0; }
};
// Memory a system call allocated for its caller (FORMAT_MESSAGE_ALLOCATE_BUFFER,
// CRYPT_ENCODE_ALLOC_FLAG, security descriptors).
template <typename T>
struct LocalMemoryTraits {
  using Type = T*;
  static bool IsEmpty(T* value) { return value == nullptr; }
  static bool Release(T* value) { return LocalFree(value) == nullptr; }
};
// A pointer whose release function tells nothing worth checking (COM's,
// libcurl's, FreeSid, the WTS and NetApi buffers).
template <typename T, auto Free>
struct SilentReleaseTraits {
  using Type = T*;
  static bool IsEmpty(T* value) { return value == nullptr; }
  static bool Release(T* value) {
    Free(value);
    return true;
  }
};
// Memory a COM call allocated for its caller (shell item id lists).
template <typename T>
using CoTaskMemoryTraits = SilentReleaseTraits<T, &CoTaskMemFree>;
// A COM interface pointer this code holds a reference of.
template <typename T>
struct ComInterfaceTraits {
  using Type = T*;
  static bool IsEmpty(T* value) { return value == nullptr; }
  static bool Release(T* value) {
    value->Release();
    return true;
  }
};
struct MappedViewTraits {
  using Type = const void*;
  static bool IsEmpty(const void* value) { return value == nullptr; }
  static bool Release(const void* value) { return UnmapViewOfFile(value) != FALSE; }
};

using UniqueHandle = Owned<KernelHandleTraits>;      // files, events, threads, processes, pipes, snapshots
using UniqueFindHandle = Owned<FindHandleTraits>;    // FindFirstFileW
using UniqueRegistryKey = Owned<RegistryKeyTraits>;  // RegOpenKeyExW, RegCreateKeyExW
using UniqueLibrary = Owned<LibraryTraits>;          // LoadLibraryExW
using UniqueStdioFile = Owned<StdioFileTraits>;      // _wfopen
template <typename T>
using UniqueLocalMemory = Owned<LocalMemoryTraits<T>>;  // LocalAlloc and calls that allocate with it
template <typename T>
using UniqueCoTaskMemory = Owned<CoTaskMemoryTraits<T>>;  // CoTaskMemAlloc and calls that allocate with it
using UniqueMappedView = Owned<MappedViewTraits>;         // MapViewOfFile
template <typename T>
using UniqueComInterface = Owned<ComInterfaceTraits<T>>;  // CoCreateInstance

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
