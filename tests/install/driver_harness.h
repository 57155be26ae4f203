// Runs the console driver (tools/orchestrate) as a real process for the
// sequence tests: its output file, its exit code, when each phase's first
// report appeared, and, on request, a kill at a chosen moment of a phase.
// The test that calls RunDriver owns the process it starts and ends it.
#pragma once

#include <windows.h>

#include <array>
#include <string>

namespace seqtest {

// The phases of a run in their order, each known by the report that opens it.
struct DriverPhase {
  const char* name;
  const char* firstLine;
};
inline constexpr DriverPhase kDriverPhases[] = {
    {"uninstall", "5002 "}, {"download", "1001 "}, {"package run", "2001 "}};
inline constexpr int kPhaseCount = 3;

// The last phase the driver's output has reached; -1 before the first.
int PhaseReached(const std::string& output);

// Ends the driver (TerminateProcess) delayMs after its output reached the phase.
struct KillPlan {
  int phase;
  DWORD delayMs;
};

struct DriverRun {
  DWORD exitCode = 0;
  std::string output;
  // Milliseconds from the start to each phase's first report and, last, to
  // the end; ULLONG_MAX for a phase never reached.
  std::array<ULONGLONG, kPhaseCount + 1> reachedMs;
  bool killed() const { return exitCode == 9; }
  // The phase in force at the kill, from the lines written before it.
  int killedIn() const { return killed() ? PhaseReached(output) : -1; }
};

// Runs the driver with these arguments, its output (standard output and
// error) into outputFile, for at most 120 s; kill, when given, ends it early.
DriverRun RunDriver(const std::wstring& arguments, const std::wstring& outputFile, const KillPlan* kill = nullptr);

}  // namespace seqtest
