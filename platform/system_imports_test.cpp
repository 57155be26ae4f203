#include "platform/system_imports.h"

#include <bcrypt.h>
#include <lm.h>
#include <mmsystem.h>
#include <wincrypt.h>
#include <windows.h>
#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

TEST(SystemImports, EveryDllComesFromTheSystemFolder) {
  EXPECT_EQ(Utils::UnboundSystemImport(), L"");
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  for (const wchar_t* dll :
       {L"bcrypt.dll", L"crypt32.dll", L"netapi32.dll", L"urlmon.dll", L"winmm.dll", L"wtsapi32.dll"}) {
    HMODULE module = GetModuleHandleW(dll);
    ASSERT_NE(module, nullptr) << dll << " was not loaded before main";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    EXPECT_EQ(Lower(path), Lower(std::wstring(system) + L"\\" + dll));
  }
}

// Both ways the compiler calls a system function: through the import slot
// (the headers declare it dllimport) and by name (declared without). The
// first is what crashed when a slot stayed empty.
TEST(SystemImports, CallsReachTheSystemFunctions) {
  HMODULE crypt32 = GetModuleHandleW(L"crypt32.dll");
  ASSERT_NE(crypt32, nullptr);
  // The address of a dllimport function is the slot's content.
  EXPECT_EQ(reinterpret_cast<void*>(&CertOpenStore), reinterpret_cast<void*>(GetProcAddress(crypt32, "CertOpenStore")));
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_NE(timeGetTime(), 0u);

  unsigned char random[16] = {};
  EXPECT_EQ(BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG), 0);
  wchar_t* text = nullptr;
  DWORD size = 0;
  if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &text, &size))
    WTSFreeMemory(text);
  EXPECT_EQ(NetApiBufferFree(nullptr), static_cast<NET_API_STATUS>(NERR_Success));
}

TEST(SystemImports, WhatCannotBeBoundIsNamedAndKeepsTheTrap) {
  FARPROC missingDll = &Utils::detail::SystemImportNotBound;
  FARPROC missingFunction = &Utils::detail::SystemImportNotBound;
  FARPROC present = &Utils::detail::SystemImportNotBound;
  const Utils::detail::SystemImport kernel[] = {{"NoSuchFunctionAnywhere", &missingFunction},
                                                {"GetTickCount", &present}};
  const Utils::detail::SystemImport none[] = {{"Anything", &missingDll}};
  const Utils::detail::SystemImportDll dlls[] = {{L"kernel32.dll", kernel, 2}, {L"no-such-system.dll", none, 1}};

  const std::wstring unbound = Utils::detail::BindSystemImports(dlls, 2);
  EXPECT_EQ(unbound.rfind(L"kernel32.dll!NoSuchFunctionAnywhere (error ", 0), 0u) << unbound;
  EXPECT_EQ(missingFunction, &Utils::detail::SystemImportNotBound);
  EXPECT_EQ(missingDll, &Utils::detail::SystemImportNotBound);
  EXPECT_EQ(present, GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
}

}  // namespace
