// Texts of the program's string resources.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// The resource text with that id, cut to capacity - 1 bytes as LoadStringA cuts it.
std::string ResourceText(platform::Platform& os, unsigned id, int capacity = 256);

}  // namespace launcher
