#include "platform/system_imports.h"

#include <string>

#include "platform/startup_marks.h"

namespace Utils {

namespace {

// Written once by the first static initialiser, read afterwards. A plain
// pointer: it must not depend on another initialiser having run.
const std::wstring* g_unbound = nullptr;

std::wstring Describe(const wchar_t* dll, const char* function, DWORD error) {
  std::wstring text = dll;
  text += L'!';
  for (const char* c = function; *c; ++c) text += static_cast<wchar_t>(*c);
  // Not std::to_wstring: that is mingw's C99 wide printf, 12 KB of the exe.
  const std::string number = std::to_string(error);
  return text + L" (error " + std::wstring(number.begin(), number.end()) + L")";
}

}  // namespace

std::wstring UnboundSystemImport() { return g_unbound ? *g_unbound : std::wstring(); }

namespace detail {

INT_PTR WINAPI SystemImportNotBound() {
  // Reached only through a slot that was never bound: the caller's
  // arguments are unknown, so nothing can be returned safely. A crash goes
  // through the unhandled-exception report like any other.
  __builtin_trap();
}

void RecordUnbound(std::wstring unbound) {
  if (!unbound.empty() && !g_unbound) g_unbound = new std::wstring(std::move(unbound));  // lives until exit
}

std::wstring BindSystemImports(const SystemImportDll* dlls, size_t count) {
  MarkStartup("imports-binding");  // the process's first code of ours
  std::wstring unbound;
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  for (size_t d = 0; d < count; ++d) {
    const SystemImportDll& dll = dlls[d];
    HMODULE module = nullptr;
    DWORD error = ERROR_PATH_NOT_FOUND;
    if (length > 0 && length < MAX_PATH) {
      const std::wstring path = std::wstring(system, length) + L'\\' + dll.name;
      // By full path, and its own imports from its folder (the system
      // folder), not from beside the exe. Stays loaded until exit.
      module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (!module) error = GetLastError();
    }
    for (size_t f = 0; f < dll.count; ++f) {
      const SystemImport& import = dll.functions[f];
      FARPROC address = module ? GetProcAddress(module, import.function) : nullptr;
      if (module && !address) error = GetLastError();
      if (address)
        *import.slot = address;
      else if (unbound.empty())
        unbound = Describe(dll.name, import.function, error);
    }
  }
  MarkStartup("imports-bound");
  return unbound;
}

}  // namespace detail
}  // namespace Utils
