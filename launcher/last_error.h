// The reason a Windows call failed, as a number that never reads as success.
#pragma once

#include "platform/platform.h"

namespace launcher {

// The thread's last error, or fallback when the failed call left none.
inline win::DWORD LastErrorOr(platform::Platform& os, win::DWORD fallback) {
  const win::DWORD error = os.GetLastError();
  return error != 0 ? error : fallback;
}

}  // namespace launcher
