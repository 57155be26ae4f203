// Small helpers for test programs: running a program to its end and
// removing a scratch folder.
#pragma once

#include <windows.h>

#include <string>

namespace test_support {

// Runs the command line and waits for it (at most timeoutMs). Returns its
// exit code, or 12345 when it could not be started; `pid` gets its id.
DWORD RunProcess(std::wstring commandLine, DWORD* pid = nullptr, DWORD timeoutMs = 60000);

// Runs the installer exe and closes every window it shows (WM_CLOSE, as
// Alt+F4 would) until it ends; otherwise as RunProcess.
DWORD RunInstaller(std::wstring commandLine, DWORD* pid = nullptr, DWORD timeoutMs = 60000);

// Removes a folder with everything in it; a missing folder is fine.
void RemoveTree(const std::wstring& path);

// Makes an existing folder, and what it holds, writable only by
// administrators and the system. False when it could not.
bool RestrictToAdministrators(const std::wstring& folder);

}  // namespace test_support
