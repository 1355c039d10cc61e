// The launcher's process on Windows: the outermost error handler around the run, then
// ExitProcess with the run's status. Shared by the shipped program and test builds.
#pragma once

#include "platform/platform.h"

namespace frame {

// Hardening that needs no result: the heap ends the process on corruption, and DLLs come from
// System32 only where Windows allows it, else at least not from the current folder.
void HardenProcess();

[[noreturn]] void RunLauncherProcess(platform::Platform& os);

}  // namespace frame
