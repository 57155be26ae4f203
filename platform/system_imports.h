// System DLLs that are not Windows "known DLLs" (bcrypt, crypt32, netapi32,
// urlmon, winmm, wtsapi32) are looked for beside the exe first when the exe
// imports them, and an installer usually runs elevated from a Downloads
// folder, where a page can drop a DLL of that name. The exe therefore does
// not import them. The functions listed in platform/system_imports.txt get
// import slots of our own (the same symbols an import library defines, so
// every caller, libcurl included, calls through them unchanged), bound once
// from the system folder before any other static initialiser runs. Every
// program that links this library (the exe and the tests) binds the same way.
//
// Until bound, and where the system lacks a function, a slot points at
// SystemImportNotBound, which ends the process as a crash: never a call
// through null.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace Utils {

// "crypt32.dll!CertOpenStore" for the first function that could not be
// bound, with the system error; empty when all were. Start-up refuses to go
// on otherwise.
std::wstring UnboundSystemImport();

namespace detail {

struct SystemImport {
  const char* function;
  FARPROC* slot;
};
struct SystemImportDll {
  const wchar_t* name;
  const SystemImport* functions;
  size_t count;
};

INT_PTR WINAPI SystemImportNotBound();
// Binds every slot it can; returns the first function it could not bind
// (described as UnboundSystemImport describes it), empty when none.
std::wstring BindSystemImports(const SystemImportDll* dlls, size_t count);
// What UnboundSystemImport reports for this process (the first call wins).
void RecordUnbound(std::wstring unbound);

}  // namespace detail
}  // namespace Utils
