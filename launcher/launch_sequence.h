// The launcher's run from start-up to ExitProcess, and its main routine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/application.h"
#include "platform/platform.h"

namespace launcher {

inline constexpr std::u16string_view kInstallerFileName = u"vc_redist.x86.exe";
inline constexpr std::u16string_view kInstallerParameters = u"/install /passive /norestart";
// The first buffer for the executable's path; a longer path gets larger ones, up to the
// longest path that Windows has.
inline constexpr win::DWORD kExecutablePathBufferSize = 261;
inline constexpr win::DWORD kLongestPathBufferSize = 32768;

// The running executable's full path in UTF-16, which holds any folder name; empty when it
// cannot be read, with the reason in error.
std::u16string GetExecutablePath(platform::Platform& os, win::DWORD& error);
// The path up to and including its last backslash or colon, or empty text when it has none.
std::u16string ExtractFolderPart(std::u16string_view path);

// Whether a folder is named from a drive's root (C:\...) or from a server (\\server\...), and
// ends in a backslash: nothing that resolves against a current folder, a device or a stream.
bool IsPlainlyAbsoluteFolder(std::u16string_view folder);

// The installer's full path beside the executable, or the reason there is none: 161
// (ERROR_BAD_PATHNAME) for a folder that is not plainly absolute, 206
// (ERROR_FILENAME_EXCED_RANGE) for a path too long for the shell.
struct InstallerPath {
  std::u16string path;
  win::DWORD failure = 0;
};
InstallerPath FindInstaller(platform::Platform& os);

// Starts the installer beside the executable when the redistributable is missing, and writes
// its non-zero exit code to the debugger output.
void InstallRedistIfMissing(platform::Platform& os, TApplication& app);

// Start-up, the main routine once, shutdown, with the last-resort handling of an error that
// escapes any of them. Returns the exit status for ExitProcess.
std::int32_t RunLauncher(platform::Platform& os);
// The phase as the outermost handler asks for it: true while the main routine runs.
bool InMainRoutine();

}  // namespace launcher
