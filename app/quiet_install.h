// The quiet install ("-silent=true", or Silent=true in a settings file only
// administrators can write): the whole installation with no window and no
// dialog, for deployment scripts that read the outcome as the process's exit
// code (install/exit_code.h). The same checks, sequence, events and records
// as the window's (InstallSession); the product is never started.
//
// Threads: runs on the first thread. The orchestrator's workers queue their
// reports, and the sequence's end, for this thread, which handles them one
// at a time as the window handles its posted reports. It returns once the
// sequence has ended and the orchestrator's threads are gone.
#pragma once

#include <string>

#include "app/settings.h"
#include "install/exit_code.h"

// The outcome, and its cause as the log tells it in `cause`.
ExitCode RunQuietInstall(const InstallerSettings& settings, std::wstring* cause);
