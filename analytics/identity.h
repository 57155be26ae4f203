// Device and environment identity: the data folder, the identity file that
// keeps the distinct id between runs, the OS name and version text and the
// user agent. Called by the tracker on the thread that uses it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <string>

namespace pelan::tracking {

// The identity part of the tracker context, as kept in the identity file.
struct Identity {
  bool isLogined = false;
  std::string userId;
  std::string distinctId;
  std::string primaryDistinctId;
  uint32_t userVipLevel = 0;
  std::string storedUrl;  // the endpoint under which the ids were issued
};

// dataDir (ending in "\") and identityPath for the exe at `exePath`: the path
// named by "Set.ini" beside the exe ([Install] PLAnalyticsIni) when it holds a
// "\", else <local app data>\PLLocal\<appName>\<appName>_PLSConfigure.ini.
// The folder is created. False when a level could not be created.
// A path from "Set.ini" is used only when absolute, and in an elevated
// process only inside the user's local or roaming application data folder;
// otherwise the default folder is used.
bool LocateDataFolder(const std::string& exePath, const std::string& appName, std::string& dataDir,
                      std::string& identityPath);
bool LocateDataFolder(const std::string& exePath, const std::string& appName, bool elevated, std::string& dataDir,
                      std::string& identityPath);
// Whether this process runs with an elevated (administrator) token.
bool IsProcessElevated();
// Creates every missing level of a folder path (ANSI); false at the first
// level that cannot be created.
bool CreateFolderLevels(std::string path);

// Reads the identity file; issues and saves a first id when it has none.
void LoadIdentity(const std::string& identityPath, Identity& identity);
// A new endpoint (or no id) drops the login and returns to the primary id.
void ReconcileIdentity(const std::string& identityPath, const std::string& serverUrl, Identity& identity);
void SaveIdentity(const std::string& identityPath, const Identity& identity);

using CreateGuidFunction = HRESULT(WINAPI*)(GUID*);
// A GUID text "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"; after 10 failed GUID
// requests, a text from the process-wide MT19937 generator (default seed).
std::string NewDistinctId(CreateGuidFunction createGuid = CoCreateGuid);

// The version text for version numbers; `available` false gives "XP-".
std::string OsVersionText(bool available, unsigned major, unsigned minor, unsigned build, bool is64Bit, bool serverR2);
// "Windows" and the running system's version text.
std::string OsName();
std::string OsVersion();
bool Is64BitSystem();
// "Mozilla/5.0(Windows 10; Win64;)".
std::string UserAgent();

}  // namespace pelan::tracking
