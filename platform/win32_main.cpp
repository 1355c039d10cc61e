// The Windows entry point: the launcher ignores its command line and ends in ExitProcess.

// The launcher's headers come first: their mirrored constants carry the names that <windows.h>
// defines as macros.
#include "platform/win32_entry.h"
#include "platform/win32_platform.h"

#include <windows.h>

// The launcher is typically run from a Downloads folder, where a planted DLL must not be
// loaded: from now on DLLs come from System32 only. Vista and unpatched Windows 7 lack the
// call; they go on without it.
static void LoadDllsFromSystem32Only() {
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LoadDllsFromSystem32Only();
  platform::Win32Platform os;
  platform::RunLauncherProcess(os);
}
