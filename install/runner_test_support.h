// Shared by the runner tests: the substitute package, scratch folders,
// scripts handed to the substitute, and a recorder of reports.
#pragma once

#include "tests/support/test_support.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "install/child_output.h"
#include "platform/handles.h"
#include "platform/phase_callback.h"
#include "platform/scoped_hook.h"

namespace testing_support {

struct Recorded {
  int32_t code;
  double number;
  std::wstring text;
  bool operator==(const Recorded&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Recorded& r);

// Collects reports from any thread; onReport (optional) runs in the
// reporting thread before the report is stored.
class Recorder {
 public:
  PhaseCallback Callback();
  std::vector<Recorded> Reports() const;
  void Clear();
  std::function<void(const Recorded&)> onReport;

 private:
  mutable std::mutex mutex_;
  std::vector<Recorded> reports_;
};

// The substitute program as a Windows path.
std::wstring SubstituteExe();

// A fresh folder under %TEMP%, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

using test_support::RemoveTree;
bool Exists(const std::wstring& path);

// Writes the script (UTF-8) and names it in the variable until destroyed.
class ScopedScript {
 public:
  ScopedScript(const wchar_t* variable, const std::wstring& file, const std::string& script);
  ~ScopedScript();

 private:
  std::wstring variable_;
};

// Counts the runners' pauses between polls while alive (each still sleeps).
class PauseCounter {
 public:
  PauseCounter();
  static int count();

 private:
  Utils::ScopedHook<ChildOutputReader::PauseFunction> pause_;
};

// Installs the sample product into folder with the substitute package run
// by CInstaller; returns the uninstaller path its installed state records.
std::wstring InstallSampleProduct(const std::wstring& folder);

// Starts the installed sample product ("OndraVelqor.exe" in folder) with
// its window hidden. The caller ends it by this handle; empty when it could
// not be started.
Utils::UniqueHandle StartSampleProduct(const std::wstring& folder, DWORD* processId = nullptr);

// "hex" command bytes for text that must arrive in one write.
std::string HexCommand(const std::string& bytes);

}  // namespace testing_support
