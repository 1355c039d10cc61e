// The Windows entry point: the launcher ignores its command line and ends in ExitProcess.

// The launcher's headers come first: their mirrored constants carry the names that <windows.h>
// defines as macros.
#include "launcher/launch_sequence.h"
#include "platform/win32_error_handling.h"
#include "platform/win32_platform.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::Win32Platform os;
  std::int32_t status;
  {
    const platform::TopLevelErrorHandler handler(os);
    status = launcher::RunLauncher(os);
  }
  os.ExitProcess(static_cast<UINT>(status));
  return 0;
}
