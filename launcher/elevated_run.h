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

// Starts the file at installer, a full path, with the "runas" verb once it is verified as
// Microsoft's pinned build (signature_gate.h), and waits until its process ends or
// app.QuitRequested(). Returns its exit code, 259 when the wait was given up while it ran (it keeps
// running), or 0 when it did not start (a debugger line then gives the reason's number) or the
// shell gave no process handle to wait on.
std::int32_t RunAsAdminAndWait(platform::Platform& os, TApplication& app, win::HWND owner,
                               const std::u16string& installer, const std::u16string& parameters);

// The debugger line for an installer that could not be started, with the reason's number.
void ReportStartFailure(platform::Platform& os, win::DWORD reason);

}  // namespace launcher
