// The baseline: a GUI program that does nothing. Built twice more to tell start-up costs apart:
// with IMPORTS it also loads the DLLs the launcher imports, and with WINDOW it also creates and
// destroys one hidden top-level window.
#include <windows.h>

#if defined(IMPORTS) || defined(WINDOW)
#include <shellapi.h>

// Never true at run time; it only makes the linker import these DLLs.
static volatile int never;
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
#if defined(IMPORTS) || defined(WINDOW)
  if (never) {
    CharLowerA(args);
    ShellExecuteExA(NULL);
    RegCloseKey(NULL);
  }
#endif
#ifdef WINDOW
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, instance, NULL);
  if (!window) return 1;
  DestroyWindow(window);
#endif
  return 0;
}
