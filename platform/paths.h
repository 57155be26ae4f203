// Registry values under HKCU\Software\PeLanSoft\Velqor, the private temp
// folder, folder creation and a short message pump. None logs or throws.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/system_error.h"

namespace Utils {

inline constexpr const wchar_t* kProductRegKey = L"Software\\PeLanSoft\\Velqor";
inline constexpr const wchar_t* kTempWorkFolderName = L"~PeLanTemp.92482B06FB471E17\\";

// Stores REG_SZ data of exactly 2 * length bytes: no terminating null.
SystemResult SetRegValue(const std::wstring& name, const std::wstring& text);
// Accepts data with or without a terminating null; leaves text untouched on failure.
bool GetRegValue(const std::wstring& name, std::wstring& text);

// "%TEMP%\~PeLanTemp.92482B06FB471E17\", created when missing; empty on failure.
std::wstring GetTempWorkFolder();

// True for a path that names one folder whatever the current drive and
// folder are: "C:\..." or "\\server\share...". False for empty, relative,
// drive-relative ("C:foo"), root-relative ("\foo") and the device and raw
// namespaces ("\\.\", "\\?\"). Either separator counts.
bool IsFullyQualifiedPath(std::wstring_view path);

// Creates every missing folder of the path; succeeds when it exists
// afterwards, else carries the error of the folder that could not be made.
// `created`, when given, gets each folder this call made, outermost first
// (also those made before a later one failed).
SystemResult CreateDirectories(const std::wstring& path, std::vector<std::wstring>* created = nullptr);

// True when a process of this user without its administrator rights (what
// a web browser of the user runs as), or any member of Users or Everyone,
// could create a file in the folder of `path` or change the file `path`
// itself. Answered by the system's own access check against the user's
// token with the Administrators group made deny-only, as UAC filters it.
// True too when the answer cannot be had: the caller then trusts less.
bool WritableWithoutAdminRights(const std::wstring& path);

// True when something that is not a folder exists at the path (false for
// an empty path).
bool IsFile(const std::wstring& path);

// Dispatches messages for about 100 ms. False when the window has gone or a
// WM_QUIT arrived (which is posted again for the main loop).
bool PumpMessages(HWND window);

}  // namespace Utils
