// Where a process's start goes, for the first-frame benchmark: the moments
// start-up passes (first time only) and the time spent in steps that may
// repeat (decoding an image, creating a font). skinview --first-paint prints
// them at the first painted frame; bench/ui/run.sh turns them into phases.
//
// Threads: any thread may record. Storage is fixed and constant-initialised,
// so the first static initialiser (the system-DLL binding) can record too.
// Cost per record: one performance-counter read and a short lock, so the
// records stay in the shipped exe rather than in a special build.
#pragma once

#include <cstddef>

namespace Utils {

// `name` is a string literal without spaces (only the pointer is kept). A
// name that was already recorded keeps its first moment.
void MarkStartup(const char* name);

// Adds the time from construction to destruction to the step `name` (as
// above) and counts one.
class StartupStep {
 public:
  explicit StartupStep(const char* name);
  ~StartupStep();
  StartupStep(const StartupStep&) = delete;
  StartupStep& operator=(const StartupStep&) = delete;

 private:
  const char* name_;
  long long start_;
};

struct StartupMark {
  const char* name;
  double epochMs;  // milliseconds since 1970 on the system clock
};
struct StartupStepTotal {
  const char* name;
  double ms;
  int count;
};

// What was recorded until now, in recording order; each returns how many
// entries it wrote (at most `capacity`).
size_t StartupMarks(StartupMark* out, size_t capacity);
size_t StartupStepTotals(StartupStepTotal* out, size_t capacity);

}  // namespace Utils
