// Small queries about the machine and the user. None logs, none throws.
#pragma once

#include <guiddef.h>

#include <string>

namespace Utils {

// System name "Windows" and a short version label ("7", "10", "XP", ...).
void GetWindowsVersion(std::wstring& systemName, std::wstring& label);

// The label for a version triple; serverR2 is GetSystemMetrics(SM_SERVERR2).
std::wstring WindowsVersionLabel(unsigned major, unsigned minor, unsigned build, bool serverR2);

bool IsWow64();
bool IsAdmin();
bool GetConsoleUserName(std::wstring& name);
bool IsUserAdmin(const std::wstring& userName);

// A fresh GUID as 32 hex digits, the third group in lower case.
std::wstring CreateGuidString();
std::wstring FormatGuidString(const GUID& guid);

}  // namespace Utils
