// The launcher's process on Windows: the outermost error handler around the run, then
// ExitProcess with the run's status. Shared by the shipped program and test builds.
#pragma once

#include "platform/platform.h"

namespace platform {

[[noreturn]] void RunLauncherProcess(Platform& os);

}  // namespace platform
