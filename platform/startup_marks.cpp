#include "platform/startup_marks.h"

#include <windows.h>

#include <cstring>

namespace Utils {
namespace {

constexpr size_t kMaxMarks = 32;
constexpr size_t kMaxSteps = 16;

struct Mark {
  const char* name;
  long long ticks;
};
struct Step {
  const char* name;
  long long ticks;
  int count;
};

// Constant-initialised: valid before any constructor has run.
SRWLOCK g_lock = SRWLOCK_INIT;
Mark g_marks[kMaxMarks];
size_t g_markCount = 0;
Step g_steps[kMaxSteps];
size_t g_stepCount = 0;

long long Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

struct Locked {
  Locked() { AcquireSRWLockExclusive(&g_lock); }
  ~Locked() { ReleaseSRWLockExclusive(&g_lock); }
};

}  // namespace

void MarkStartup(const char* name) {
  const long long now = Now();
  Locked lock;
  for (size_t i = 0; i < g_markCount; ++i)
    if (std::strcmp(g_marks[i].name, name) == 0) return;
  if (g_markCount < kMaxMarks) g_marks[g_markCount++] = Mark{name, now};
}

StartupStep::StartupStep(const char* name) : name_(name), start_(Now()) {}

StartupStep::~StartupStep() {
  const long long spent = Now() - start_;
  Locked lock;
  for (size_t i = 0; i < g_stepCount; ++i) {
    if (std::strcmp(g_steps[i].name, name_) != 0) continue;
    g_steps[i].ticks += spent;
    ++g_steps[i].count;
    return;
  }
  if (g_stepCount < kMaxSteps) g_steps[g_stepCount++] = Step{name_, spent, 1};
}

size_t StartupMarks(StartupMark* out, size_t capacity) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  // The counter is steady and fine-grained; the system clock is read once
  // to place the moments on it (the benchmark times the launch by that clock).
  FILETIME clock;
  GetSystemTimeAsFileTime(&clock);
  const long long now = Now();
  const double nowMs =
      static_cast<double>(((static_cast<unsigned long long>(clock.dwHighDateTime) << 32) | clock.dwLowDateTime) -
                          116444736000000000ULL) /
      10000.0;
  Locked lock;
  size_t n = 0;
  for (; n < g_markCount && n < capacity; ++n)
    out[n] = StartupMark{g_marks[n].name, nowMs - static_cast<double>(now - g_marks[n].ticks) * 1000.0 /
                                                      static_cast<double>(frequency.QuadPart)};
  return n;
}

size_t StartupStepTotals(StartupStepTotal* out, size_t capacity) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  Locked lock;
  size_t n = 0;
  for (; n < g_stepCount && n < capacity; ++n)
    out[n] = StartupStepTotal{g_steps[n].name,
                              static_cast<double>(g_steps[n].ticks) * 1000.0 / static_cast<double>(frequency.QuadPart),
                              g_steps[n].count};
  return n;
}

}  // namespace Utils
