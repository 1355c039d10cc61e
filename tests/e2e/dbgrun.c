// Runs a program as its debugger, which is the only way to see its OutputDebugStringA lines with
// their exact bytes. Usage: dbgrun <exe> [--cwd <folder>] [--args <text>]
// Prints, one line each as they happen:
//   started <pid> <tid>
//   ods <hex of the bytes read, terminating NUL included>
//   exception <code> <first chance>
//   exit <signed exit code>
#include <stdio.h>
#include <string.h>
#include <windows.h>

static void PrintHex(const BYTE* data, SIZE_T size) {
  for (SIZE_T i = 0; i < size; ++i) printf("%02x", data[i]);
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc < 2) {
    fprintf(stderr, "usage: dbgrun <exe> [--cwd <folder>] [--args <text>]\n");
    return 2;
  }
  const char* exe = argv[1];
  const char* cwd = NULL;
  const char* args = NULL;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--cwd") == 0) cwd = argv[i + 1];
    if (strcmp(argv[i], "--args") == 0) args = argv[i + 1];
  }
  static char command_line[32768];
  snprintf(command_line, sizeof command_line, "\"%s\"%s%s", exe, args ? " " : "", args ? args : "");

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(exe, command_line, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, cwd,
                      &startup, &process)) {
    printf("error CreateProcess %lu\n", GetLastError());
    return 2;
  }
  printf("started %lu %lu\n", process.dwProcessId, process.dwThreadId);

  BOOL loader_breakpoint_seen = FALSE;
  for (;;) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, INFINITE)) {
      printf("error WaitForDebugEvent %lu\n", GetLastError());
      return 2;
    }
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT: {
        const OUTPUT_DEBUG_STRING_INFO* info = &event.u.DebugString;
        SIZE_T size = info->nDebugStringLength * (info->fUnicode ? 2 : 1), got = 0;
        static BYTE text[1 << 16];
        if (size > sizeof text) size = sizeof text;
        ReadProcessMemory(process.hProcess, info->lpDebugStringData, text, size, &got);
        printf(info->fUnicode ? "odsw " : "ods ");
        PrintHex(text, got);
        printf("\n");
        break;
      }
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_DEBUG_INFO* info = &event.u.Exception;
        DWORD code = info->ExceptionRecord.ExceptionCode;
        if (code == EXCEPTION_BREAKPOINT && !loader_breakpoint_seen) {
          loader_breakpoint_seen = TRUE;
          break;
        }
        printf("exception 0x%08lx %lu\n", code, info->dwFirstChance);
        status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        printf("exit %ld\n", (long)event.u.ExitProcess.dwExitCode);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
}
