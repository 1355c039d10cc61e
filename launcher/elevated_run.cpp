#include "launcher/elevated_run.h"

#include <string>

#include "launcher/last_error.h"
#include "launcher/owned.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"
#include "launcher/signature_gate.h"

namespace launcher {

using platform::Platform;
using win::DWORD;
using win::HANDLE;
using win::HWND;

namespace {

// Asks the shell to start file elevated; the process handle, or null when there is none.
HANDLE StartElevated(Platform& os, HWND owner, const std::u16string& file,
                     const std::u16string& parameters) {
  win::SHELLEXECUTEINFOW request{};
  request.cbSize = kShellExecuteInfoSize;
  request.fMask = kShellExecuteMask;
  request.hwnd = owner;
  request.lpVerb = u"runas";
  request.lpFile = file.c_str();
  request.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  request.nShow = win::SW_SHOWNORMAL;
  // A missing file or a declined elevation prompt: the shell shows nothing, nor do we; the
  // reason's number is left for an administrator's debugger.
  if (!os.ShellExecuteExW(&request)) {
    ReportStartFailure(os, LastErrorOr(os, win::ERROR_CAN_NOT_COMPLETE));
    return nullptr;
  }
  return request.hProcess;
}

}  // namespace

void ReportStartFailure(Platform& os, DWORD reason) {
  OutputDebugLine(os, IDS_INSTALL_START_FAILED, std::to_string(reason));
}

std::int32_t RunAsAdminAndWait(Platform& os, TApplication& app, HWND owner,
                               const std::u16string& installer, const std::u16string& parameters) {
  HANDLE started = nullptr;
  {  // the file is let go only once the shell has started it
    const SignedInstaller signedInstaller(os, installer);
    if (const DWORD refusal = signedInstaller.Refusal()) {
      ReportStartFailure(os, refusal);
      return 0;
    }
    // Quoted, so that the shell never splits the path at a space.
    started = StartElevated(os, owner, u"\"" + installer + u"\"", parameters);
  }
  if (started == nullptr) return 0;  // nothing to wait on
  const Owned<handle_kind::Process> process(os, started);

  DWORD code = win::STILL_ACTIVE;
  for (;;) {
    app.PumpPendingMessages();
    // Asked before the code is read, so that a process whose own exit code is 259 still ends
    // the wait, and a code read while it ran is never taken as its last.
    const bool ended = os.WaitForSingleObject(process.get(), 0) == win::WAIT_OBJECT_0;
    DWORD read;
    if (os.GetExitCodeProcess(process.get(), &read)) code = read;
    if (ended || code != win::STILL_ACTIVE) break;
    // Deliberate: a wait given up (log-off, WM_QUIT) leaves the installer running, and its code is
    // then 259 (a test pins this).
    if (app.QuitRequested()) break;
    // Sleep until the installer ends or a message arrives, rather than spin.
    const HANDLE handles[] = {process.get()};
    if (os.MsgWaitForMultipleObjectsEx(1, handles, win::INFINITE, win::QS_ALLINPUT,
                                       win::MWMO_INPUTAVAILABLE) == win::WAIT_FAILED)
      break;
  }
  return static_cast<std::int32_t>(code);
}

}  // namespace launcher
