// The platform operations served by Windows itself.
#pragma once

#include "platform/platform.h"

namespace platform {

class Win32Platform : public Platform {
 public:
  LAUNCHER_WINDOWS_CALLS(LAUNCHER_OVERRIDE)
};

}  // namespace platform
