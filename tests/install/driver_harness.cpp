#include "tests/install/driver_harness.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/child_process.h"
#include "platform/handles.h"
#include "platform/strings.h"
#include "tests/download/harness.h"

namespace seqtest {

int PhaseReached(const std::string& output) {
  int reached = -1;
  for (int p = 0; p < kPhaseCount; ++p)
    if (output.rfind(kDriverPhases[p].firstLine, 0) == 0 ||
        output.find(std::string("\n") + kDriverPhases[p].firstLine) != std::string::npos)
      reached = p;
  return reached;
}

// The driver gets no console, as the windowed installer has none: its
// children then get consoles of their own. Sharing the driver's headless
// console, a child still starting when the driver was killed stayed blocked
// in Wine's console set-up for ever. Only the output file is inherited; the
// test's own standard output (CTest's pipe) must not reach the orphans.
DriverRun RunDriver(const std::wstring& arguments, const std::wstring& outputFile, const KillPlan* kill) {
  std::wstring driver = Utils::Utf8ToWide(OV_ORCHESTRATE_EXE);
  for (wchar_t& c : driver)
    if (c == L'/') c = L'\\';
  std::wstring line = L"\"Z:" + driver + L"\" " + arguments;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  Utils::UniqueHandle out(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_ALWAYS, 0, nullptr));
  HANDLE inherited = out.get();
  Utils::ProcThreadAttribute onlyOutput(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof(inherited));
  EXPECT_TRUE(onlyOutput.ok());
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = out.get();
  startup.StartupInfo.hStdError = out.get();
  startup.lpAttributeList = onlyOutput.list();
  PROCESS_INFORMATION info = {};
  DriverRun run;
  run.reachedMs.fill(ULLONG_MAX);
  const bool started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT,
                     nullptr, nullptr, &startup.StartupInfo, &info);
  EXPECT_TRUE(started) << GetLastError();
  if (!started) return run;
  const Utils::ProcessHandles process(info);
  const ULONGLONG begin = GetTickCount64();
  // Watches the output for the phases' first reports (and the kill).
  while (WaitForSingleObject(process.process.get(), 5) == WAIT_TIMEOUT && GetTickCount64() - begin < 120000) {
    const ULONGLONG now = GetTickCount64() - begin;
    for (int p = 0; p <= PhaseReached(dltest::ReadFile(outputFile)); ++p)
      if (run.reachedMs[p] == ULLONG_MAX) run.reachedMs[p] = now;
    if (kill && run.reachedMs[kill->phase] != ULLONG_MAX && now >= run.reachedMs[kill->phase] + kill->delayMs)
      TerminateProcess(process.process.get(), 9);  // this test started it
  }
  WaitForSingleObject(process.process.get(), 120000);
  run.reachedMs[kPhaseCount] = GetTickCount64() - begin;
  GetExitCodeProcess(process.process.get(), &run.exitCode);
  out.reset();
  run.output = dltest::ReadFile(outputFile);
  return run;
}

}  // namespace seqtest
