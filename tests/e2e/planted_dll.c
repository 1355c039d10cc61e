// A DLL planted beside the launcher under the name of one it loads (built as wintrust.dll): once
// loaded, it creates the file that PLANTED_DLL_MARKER names, so a test can tell it was.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    WCHAR marker[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"PLANTED_DLL_MARKER", marker, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}
