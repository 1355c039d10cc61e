// Starting a file elevated through the shell and waiting for it with the message queue serviced.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/application.h"
#include "platform/platform.h"

namespace launcher {

inline constexpr win::DWORD kShellExecuteInfoSize = 60;  // the 32-bit SHELLEXECUTEINFOW
inline constexpr win::DWORD kShellExecuteMask =
    win::SEE_MASK_NOCLOSEPROCESS | win::SEE_MASK_NOASYNC | win::SEE_MASK_FLAG_NO_UI;

// Starts file with the "runas" verb and waits until its process ends or app.QuitRequested().
// Returns its exit code, 259 when the wait was given up while it ran (it keeps running), or 0
// when the shell did not start it (a debugger line then gives the reason's number) or gave no
// process handle to wait on.
std::int32_t RunAsAdminAndWait(platform::Platform& os, TApplication& app, win::HWND owner,
                               const std::u16string& file, const std::u16string& parameters);

}  // namespace launcher
