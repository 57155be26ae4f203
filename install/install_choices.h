// What one installation is asked to do, and what the application's settings
// decide for every installation. The window (or a driver) fills both; the
// install code reads nothing of the settings record itself.
#pragma once

#include <cstdint>
#include <string>

// The user's choices for one installation, with the two facts about the
// account that the package is told.
struct InstallChoices {
  std::wstring downloadUrl;
  std::wstring previousInstallPath;  // the registered folder of an installed version
  std::wstring recordedUninstaller;  // empty: nothing is to be uninstalled
  std::wstring installFolder;
  bool desktopShortcut = true;
  bool quickLaunch = true;
  bool consoleUserIsAdmin = false;
  bool processIsElevated = false;
  std::wstring languageTag;  // empty: the package picks its own language
};

// Read from the settings once, by the orchestrator's owner.
struct SequenceOptions {
  int32_t downloadType = 1;            // selects the downloader
  bool httpReady = true;               // libcurl was initialised at start-up
  bool insNew = false;                 // replacing a running product: wait for it before uninstalling
  std::wstring extraPackageArguments;  // appended verbatim to the package's command line
};
