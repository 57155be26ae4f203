// dbwin: prints what programs write to the debugger output, one record per
// line as "<pid>: <text>" (text already carries its own line end, if any).
//   dbwin [--pid N] [--seconds S]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/dbwin/dbwin_listener.h"

int main(int argc, char** argv) {
  DWORD pid = 0, seconds = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--pid"))
      pid = std::strtoul(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--seconds"))
      seconds = std::strtoul(argv[i + 1], nullptr, 10);
  }
  DebugOutputListener listener;
  const bool ok = listener.Start([pid](const DebugOutputLine& line) {
    if (pid && line.pid != pid) return;
    std::printf("%lu: %s", static_cast<unsigned long>(line.pid), line.text.c_str());
    if (line.text.empty() || line.text.back() != '\n') std::printf("\n");
    std::fflush(stdout);
  });
  if (!ok) {
    std::fprintf(stderr, "dbwin: the debug-output channel is in use by another listener\n");
    return 1;
  }
  std::fprintf(stderr, "dbwin: listening\n");
  Sleep(seconds ? seconds * 1000 : INFINITE);
  return 0;
}
