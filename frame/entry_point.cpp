// The Windows entry point: the launcher ignores its command line and ends in ExitProcess.

// The launcher's headers come first: their mirrored constants carry the names that <windows.h>
// defines as macros.
#include "frame/process.h"
#include "frame/runtime_replacements.h"
#include "platform/win32_platform.h"

#include <windows.h>

// Unprotected: the stack guard changes while this frame is live.
__attribute__((no_stack_protector)) int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  frame::SeedStackGuard();
  frame::HardenProcess();
  platform::Win32Platform os;
  frame::RunLauncherProcess(os);
}
