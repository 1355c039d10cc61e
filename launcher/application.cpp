#include "launcher/application.h"

#include <cstring>

#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "launcher/lead_bytes.h"
#include "launcher/program_state.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"

namespace launcher {

using platform::Platform;
using win::HWND;
using win::LPARAM;
using win::LRESULT;
using win::UINT;
using win::WPARAM;

TApplication::TApplication(Platform& os)
    : os_(os), instance_(os.GetModuleHandleA(nullptr)), window_(os) {
  title_ = ExecutableBaseName();
  RegisterWindowClass();
  window_.reset(os_.CreateWindowExA(
      0, kWindowClassName, title_.c_str(), kWindowStyle, os_.GetSystemMetrics(win::SM_CXSCREEN) / 2,
      os_.GetSystemMetrics(win::SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, instance_, nullptr));
  State.CurrentApplication = this;
  // The messages of the creation itself went to the class procedure; ours takes the rest.
  if (!window_.empty())
    os_.SetWindowLongA(window_.get(), win::GWL_WNDPROC,
                       reinterpret_cast<win::LONG_PTR>(&WindowProcedure));
}

TApplication::~TApplication() {
  if (State.CurrentApplication == this) State.CurrentApplication = nullptr;
}

void TApplication::Destroy() {
  if (State.CurrentApplication != this) return;
  window_.reset();
  State.CurrentApplication = nullptr;
}

void TApplication::RegisterWindowClass() {
  win::WNDCLASSA windowClass{};
  if (os_.GetClassInfoA(instance_, kWindowClassName, &windowClass)) return;
  windowClass = win::WNDCLASSA{};
  windowClass.lpfnWndProc = os_.DefWindowProcAddress();
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = kWindowClassName;
  if (os_.RegisterClassA(&windowClass) == 0)
    Raise<EOutOfResources>(ResourceText(os_, IDS_WINDOW_CLASS_FAILED));
}

// The executable's file name without folder and extension, in the ANSI code page, lower case
// but for its first character: LAUNCHER.EXE gives Launcher.
std::string TApplication::ExecutableBaseName() {
  // Deliberate: at most 255 characters of the path, read as ANSI and then converted as if it were
  // OEM text, which changes its characters above 0x7F; and the name ends at its first dot (a test
  // pins this).
  char path[256] = {};
  os_.GetModuleFileNameA(instance_, path, sizeof path);
  path[sizeof path - 1] = '\0';
  os_.OemToCharA(path, path);
  std::string name(path, strnlen(path, sizeof path));
  const size_t slash = LastDelimiter(name, "\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  if (name.size() > 1) os_.CharLowerA(name.data() + 1);
  return name;
}

void TApplication::PumpPendingMessages() {
  win::MSG message{};
  while (os_.PeekMessageA(&message, nullptr, 0, 0, win::PM_REMOVE)) {
    // WM_QUIT is for the message loop, not for a window: it asks the wait to end.
    if (message.message == win::WM_QUIT) {
      quitRequested_ = true;
      continue;
    }
    os_.TranslateMessage(&message);
    os_.DispatchMessageA(&message);
  }
}

LRESULT WIN_CALLBACK TApplication::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
  TApplication& app = *State.CurrentApplication;
  try {
    const CatchScope scope;
    return app.HandleMessage(window, message, wParam, lParam);
  } catch (Exception* raw) {
    // An error in the window's own handling is shown, and the run goes on.
    const OwnedError error(raw);
    ShowHostError(app.os_, window, *error);
    return 0;
  }
}

LRESULT TApplication::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case win::WM_ENDSESSION:
      // The log-off or shutdown goes ahead: stop waiting, leave the installer running.
      if (wParam != 0) quitRequested_ = true;
      return 0;
    case win::WM_CLOSE:
      // Deliberately ignored: only the end of the run closes this window, and the wait goes on (a
      // test pins this).
      return 0;
    default:
      return os_.DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace launcher
