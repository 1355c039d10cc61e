// Texts of the program's string resources, and the debugger line made of one.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// The resource text with that id, cut to capacity - 1 bytes as LoadStringA cuts it.
std::string ResourceText(platform::Platform& os, unsigned id, int capacity = 256);

// Writes the resource text with that id followed by value as one line of debugger output.
void OutputDebugLine(platform::Platform& os, unsigned id, std::string_view value);

}  // namespace launcher
