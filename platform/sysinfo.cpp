#include "platform/sysinfo.h"

#include <windows.h>
#include <lm.h>
#include <objbase.h>
#include <wtsapi32.h>

#include <cwchar>

#include "platform/handles.h"
#include "platform/strings.h"

namespace Utils {

std::wstring WindowsVersionLabel(unsigned major, unsigned minor, unsigned build, bool serverR2) {
  std::wstring label;
  if (major <= 4) {
    label = L"XP-";
  } else if (major == 5) {
    if (minor == 0)
      label = L"2K";
    else if (minor == 1)
      label = L"XP";
    else if (minor == 2)
      label = serverR2 ? L"Server 2003 R2" : L"Server 2003";
    else
      label = L"XP+";
  } else if (major == 6) {
    static const wchar_t* const kSix[] = {L"Vista", L"7", L"8", L"8.1"};
    label = minor < 4 ? kSix[minor] : L"8.1+";
  } else if (major == 10) {
    label = minor == 0 ? L"10" : L"10+";
  }
  if (label.empty()) {
    // No table entry (7, 8, 9, 11 and later): spell the numbers out.
    label = DecimalText(major) + L"." + DecimalText(minor) + L"." + DecimalText(build);
  }
  return label;
}

void GetWindowsVersion(std::wstring& systemName, std::wstring& label) {
  systemName = L"Windows";
  label.clear();
  const UniqueLibrary ntdll(LoadLibraryA("ntdll.dll"));
  if (!ntdll) {
    label = L"XP-";
    return;
  }
  DWORD major = 0, minor = 0, build = 0;
  using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
  auto fn = reinterpret_cast<RtlGetNtVersionNumbersFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "RtlGetNtVersionNumbers")));
  if (fn) fn(&major, &minor, &build);
  build &= 0xFFFF;
  label = WindowsVersionLabel(major, minor, build, major == 5 && minor == 2 && GetSystemMetrics(SM_SERVERR2) != 0);
}

bool IsWow64() {
#ifdef _WIN64
  // Callers ask whether Windows is 64-bit: a 64-bit process is the answer
  // itself (IsWow64Process says false for it).
  return true;
#else
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto fn = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
  if (!fn) return false;
  BOOL wow = FALSE;
  if (fn(GetCurrentProcess(), &wow)) return wow != FALSE;
  SYSTEM_INFO info = {};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
#endif
}

bool IsAdmin() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  Owned<SilentReleaseTraits<void, &FreeSid>> admins;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                admins.put()))
    return false;
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, admins.get(), &member) && member != FALSE;
}

bool GetConsoleUserName(std::wstring& name) {
  Owned<SilentReleaseTraits<wchar_t, &WTSFreeMemory>> buffer;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTSGetActiveConsoleSessionId(), WTSUserName, buffer.put(),
                                   &bytes))
    return false;
  if (buffer) name += buffer.get();
  return true;
}

bool IsUserAdmin(const std::wstring& userName) {
  Owned<SilentReleaseTraits<BYTE, &NetApiBufferFree>> buffer;
  if (NetUserGetInfo(nullptr, userName.c_str(), 1, buffer.put()) != NERR_Success) return false;
  return buffer && reinterpret_cast<USER_INFO_1*>(buffer.get())->usri1_priv == USER_PRIV_ADMIN;
}

std::wstring FormatGuidString(const GUID& g) {
  wchar_t text[50] = {};
  _snwprintf(text, 49, L"%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(g.Data1), g.Data2,
             g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::wstring CreateGuidString() {
  GUID guid = {};
  CoCreateGuid(&guid);
  return FormatGuidString(guid);
}

}  // namespace Utils
