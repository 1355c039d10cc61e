#include "frame/process.h"

#include <cstdlib>

#include "frame/outermost_handler.h"
#include "launcher/launch_sequence.h"

#include <windows.h>

namespace frame {

// The launcher is typically run from a Downloads folder, where a planted DLL must not be
// loaded. Vista and Windows 7 without KB2533623 lack SetDefaultDllDirectories; there only the
// current folder can be taken out of the search, not the program's own folder.
void HardenProcess() {
  ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories == nullptr ||
      !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
    ::SetDllDirectoryW(L"");
}

namespace {

// Out of line: the run's frame returns, so its stack guard is checked, which it would never be
// inside the entry's frame or a frame that ends in ExitProcess.
__attribute__((noinline)) std::int32_t RunWithHandler(platform::Platform& os) {
  const TopLevelErrorHandler handler(os);
  return launcher::RunLauncher(os);
}

}  // namespace

void RunLauncherProcess(platform::Platform& os) {
  const std::int32_t status = RunWithHandler(os);
  os.ExitProcess(static_cast<UINT>(status));
  std::abort();  // ExitProcess does not return
}

}  // namespace frame
