#include <windows.h>

#include "app/settings.h"
#include "app/startup.h"
#include "platform/log.h"

namespace {

// The log file opens before any other static initialiser can log (reading
// the settings file does): "-log=<path>" puts it where an administrator
// collects them.
struct LogFileOpener {
  LogFileOpener() {
    const auto chosen = CommandLineOptions(GetCommandLineW()).Text(L"-log");
    Utils::OpenLogFile(chosen && !chosen->empty() ? *chosen : Utils::DefaultLogFilePath());
  }
};
const LogFileOpener g_logFileOpener __attribute__((init_priority(200)));

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunInstaller(instance); }
