#include "platform/win32_entry.h"

#include <cstdlib>

#include "launcher/launch_sequence.h"
#include "platform/win32_error_handling.h"

namespace platform {

void RunLauncherProcess(Platform& os) {
  std::int32_t status;
  {
    const TopLevelErrorHandler handler(os);
    status = launcher::RunLauncher(os);
  }
  os.ExitProcess(static_cast<UINT>(status));
  std::abort();  // ExitProcess does not return
}

}  // namespace platform
