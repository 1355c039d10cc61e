// The Windows entry point: the launcher ignores its command line and ends in ExitProcess.

// The launcher's headers come first: their mirrored constants carry the names that <windows.h>
// defines as macros.
#include "platform/win32_entry.h"
#include "platform/win32_platform.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::Win32Platform os;
  platform::RunLauncherProcess(os);
}
