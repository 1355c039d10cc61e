// Texts of the program's string resources, and the filling of their %s placeholders.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// The resource text with that id, cut to capacity - 1 bytes as LoadStringA cuts it.
std::string ResourceText(platform::Platform& os, unsigned id, int capacity = 256);

// The template with its first %s replaced by the argument; other bytes are copied unchanged.
std::string FormatText(std::string_view pattern, std::string_view argument);

}  // namespace launcher
