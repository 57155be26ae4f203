// Where the product is installed and where its uninstaller lies (registry
// values under HKCU\Software\PeLanSoft\Velqor and "set.ini" in the installed
// folder), the analytics INI in the per-user data folder, and which folder
// to offer for a new installation.
//
// The window owns one InstallState and calls it on its own thread. Files and
// registry values are outside data: another version may have written them.
#pragma once

#include <string>

class InstallState {
 public:
  // Filled by Read from the registry.
  std::wstring registeredInstallPath;
  std::wstring registeredUninstallerPath;
  // Set by the window: the chosen folder when installation starts, then what
  // the package reported (IST_INFO_INST_PATH, IST_INFO_UNINST_EP).
  std::wstring reportedInstallFolder;
  std::wstring reportedUninstallerPath;
  // Refreshed by DefaultFolder; passed on to the orchestrator.
  bool consoleUserIsAdmin = false;
  bool processIsElevated = false;

  // Registry record -> registered fields; a missing uninstaller value
  // defaults to "<install path>\uninst.ep".
  void Read();
  // Reported fields -> registry record, after a successful installation.
  // "UnInstallEp" is written only when that file exists.
  void Write();
  // "set.ini" in the reported folder and the analytics INI in the data folder.
  void WriteSetIni() const;

  std::wstring DefaultFolder();
  bool IsDefaultFolder(const std::wstring& folder);
  // The installation folder for the text of the folder box.
  std::wstring ChosenFolder(const std::wstring& editText);
  // Installing into this folder keeps the previous installation: it is the
  // registered folder and its "set.ini" says IsOverride=false.
  bool SkipsUninstall(const std::wstring& folder) const;

  static std::wstring DataFolder();
};

// The rules behind DefaultFolder, given what the system answered.
struct DefaultFolderInputs {
  std::wstring registeredInstallPath;
  bool uninstallerExists = false;  // at the registered uninstaller path
  bool consoleUserIsAdmin = false;
  bool processIsElevated = false;
  std::wstring appData;          // empty when "APPDATA" cannot be read
  std::wstring programFilesX86;  // empty when the system cannot give it
  std::wstring programFiles;
};
std::wstring ChooseDefaultFolder(const DefaultFolderInputs& in);

// Two folders are the same when the relative path from one to the other is ".".
bool IsSameFolder(const std::wstring& a, const std::wstring& b);
