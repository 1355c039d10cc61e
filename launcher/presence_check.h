// Whether the one build of the runtime redistributable that the launcher ensures is installed.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// Where 64-bit Windows lists the uninstall entries of 32-bit software: the first value of
// State.UninstallKeyPath.
inline constexpr std::string_view kInitialUninstallKeyPath =
    "\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// 32-bit Windows has no WOW6432Node branch and lists them here.
inline constexpr std::string_view kNativeUninstallKeyPath =
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// An entry matches when its display name begins with these 66 bytes.
inline constexpr std::string_view kRedistDisplayName =
    "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931";
inline constexpr const char* kDisplayNameValue = "DisplayName";
// KEY_READ, through the 64-bit view.
inline constexpr win::REGSAM kUninstallAccess = win::KEY_READ | win::KEY_WOW64_64KEY;

// Looks through the uninstall entries; raises ERegistryException when a "DisplayName" examined
// before the match cannot be read or is not text.
bool IsRedistInstalled(platform::Platform& os);

}  // namespace launcher
