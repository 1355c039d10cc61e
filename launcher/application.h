// The host's application object: its hidden top-level window, which hears of log-off and
// shutdown, its message pump and the flag that a quit was requested.
#pragma once

#include <string>

#include "launcher/owned.h"
#include "platform/platform.h"

namespace launcher {

class TApplication {
 public:
  // Registers the window class if needed and creates the hidden window; raises
  // EOutOfResources when the class cannot be registered. A window that cannot be created is
  // done without: only WM_QUIT can then end a wait early.
  explicit TApplication(platform::Platform& os);
  // Releases what is left; the window is the shutdown's to destroy (Destroy).
  ~TApplication();
  // Destroys the window; a shutdown step, which may raise.
  void Destroy();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Handles every message waiting in the thread's queue, then returns; never waits.
  void PumpPendingMessages();
  bool QuitRequested() const { return quitRequested_; }
  win::HWND Handle() const { return window_.get(); }
  const std::string& Title() const { return title_; }

  static constexpr const char* kWindowClassName = "TApplication";
  static constexpr win::DWORD kWindowStyle = win::WS_POPUP | win::WS_CLIPSIBLINGS |
                                             win::WS_CAPTION | win::WS_SYSMENU |
                                             win::WS_MINIMIZEBOX;

 private:
  static win::LRESULT WIN_CALLBACK WindowProcedure(win::HWND window, win::UINT message,
                                                   win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT HandleMessage(win::HWND window, win::UINT message, win::WPARAM wParam,
                             win::LPARAM lParam);
  void RegisterWindowClass();
  std::string ExecutableBaseName();

  platform::Platform& os_;
  win::HINSTANCE instance_ = nullptr;
  Owned<handle_kind::Window> window_;
  std::string title_;
  bool quitRequested_ = false;
};

}  // namespace launcher
