#include "install/runner_test_support.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <ostream>

#include "install/child_output.h"
#include "install/installer.h"
#include "platform/strings.h"

namespace testing_support {

std::ostream& operator<<(std::ostream& out, const Recorded& r) {
  return out << "(" << r.code << ", " << r.number << ", \"" << Utils::WideToUtf8(r.text) << "\")";
}

PhaseCallback Recorder::Callback() {
  return [this](int32_t code, double number, const wchar_t* text) {
    Recorded r{code, number, text ? text : L""};
    if (onReport) onReport(r);
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(std::move(r));
  };
}

std::vector<Recorded> Recorder::Reports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

void Recorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  reports_.clear();
}

std::wstring SubstituteExe() {
  // CMake gives the host path; Wine maps "/" to drive Z:.
  std::wstring path = Utils::Utf8ToWide(OV_SUBSTITUTE_EXE);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path[0] == L'\\' ? L"Z:" + path : path;
}

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"ov_install_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter);
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool Exists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

ScopedScript::ScopedScript(const wchar_t* variable, const std::wstring& file, const std::string& script)
    : variable_(variable) {
  std::ofstream(file.c_str(), std::ios::binary) << script;
  SetEnvironmentVariableW(variable, file.c_str());
}

ScopedScript::~ScopedScript() { SetEnvironmentVariableW(variable_.c_str(), nullptr); }

namespace {
std::atomic<int> g_pauses{0};
void CountingPause() {
  ++g_pauses;
  Sleep(100);
}
}  // namespace

PauseCounter::PauseCounter() : pause_(&ChildOutputReader::SetPause, &CountingPause) { g_pauses = 0; }
int PauseCounter::count() { return g_pauses; }

std::wstring InstallSampleProduct(const std::wstring& folder) {
  Recorder ignored;
  InstallChoices choices;
  choices.installFolder = folder;
  CInstaller(ignored.Callback(), L"\"" + SubstituteExe() + L"\"", choices).Start();  // destruction waits
  return folder + L"\\uninst.ep";
}

Utils::UniqueHandle StartSampleProduct(const std::wstring& folder, DWORD* processId) {
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  std::wstring line = L"\"" + folder + L"\\OndraVelqor.exe\" --hidden";
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return {};
  Utils::ProcessHandles product(info);
  if (processId) *processId = product.processId;
  return std::move(product.process);
}

std::string HexCommand(const std::string& bytes) {
  std::string line = "hex";
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof(digits), " %02x", c);
    line += digits;
  }
  return line + "\n";
}

}  // namespace testing_support
