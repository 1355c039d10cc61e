// Stands in for vc_redist.x86.exe in the waiting runs: appends "start <pid> <counter>" to the file
// named by BENCH_LOG, sleeps BENCH_SLEEP_MS, appends "exit <pid> <counter>" with the counter read
// just before it ends, and ends with 0.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static void Record(const char* log, const char* what) {
  char line[128];
  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  int n = snprintf(line, sizeof line, "%s %lu %lld\n", what, GetCurrentProcessId(), now.QuadPart);
  DWORD written;
  WriteFile(file, line, (DWORD)n, &written, NULL);
  CloseHandle(file);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  char log[MAX_PATH], sleep_ms[32];
  DWORD n = GetEnvironmentVariableA("BENCH_LOG", log, sizeof log);
  if (n == 0 || n >= sizeof log) return 0;
  Record(log, "start");
  if (GetEnvironmentVariableA("BENCH_SLEEP_MS", sleep_ms, sizeof sleep_ms))
    Sleep(strtoul(sleep_ms, NULL, 10));
  Record(log, "exit");
  ExitProcess(0);
}
