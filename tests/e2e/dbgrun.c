// Runs a program as its debugger, which sees its OutputDebugStringA lines with their exact bytes
// and its exceptions. Usage: dbgrun <exe> [--cwd <folder>] [--args <text>] [--no-debug]
// Prints, one line each as they happen:
//   started <pid> <tid> <performance counter frequency>
//   ods <hex of the bytes read, terminating NUL included>
//   exception <code> <first chance>
//   exit <signed exit code> <performance counter when the end was seen> <processes started in
//        the program's job, the program included; -1 if unknown>
// With --no-debug the program runs without a debugger, as its error handling behaves differently
// under one, and its lines are read from the system-wide debug-output buffer instead.
// Its arguments are taken and the program started in UTF-16, so that any folder name reaches it.
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "helper_common.h"

// Every process the program starts joins its job: at its end the job tells whether it started any.
static HANDLE job;

static void PrintExit(DWORD code) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
  long processes = QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                             sizeof accounting, NULL)
                       ? (long)accounting.TotalProcesses
                       : -1;
  printf("exit %ld %lld %ld\n", (long)code, now.QuadPart, processes);
}

// The listener's side of the DBWIN protocol: the writer waits for BUFFER_READY, fills the shared
// buffer with its pid and text, then signals DATA_READY.
typedef struct {
  HANDLE buffer_ready, data_ready;
  const struct {
    DWORD pid;
    char text[4092];
  } * buffer;
} Listener;

static BOOL Listen(Listener* listener) {
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
  listener->buffer = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
  listener->buffer_ready = CreateEventA(NULL, FALSE, TRUE, "DBWIN_BUFFER_READY");
  listener->data_ready = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
  // Writers give up on the protocol unless this mutex exists.
  return CreateMutexA(NULL, FALSE, "DBWinMutex") && listener->buffer && listener->buffer_ready &&
         listener->data_ready;
}

static int Watch(const Listener* listener, const PROCESS_INFORMATION* process) {
  // DATA_READY first: a line written just before the end is read before the end is reported.
  const HANDLE events[] = {listener->data_ready, process->hProcess};
  while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
    if (listener->buffer->pid == process->dwProcessId) {
      printf("ods ");
      PrintHex((const BYTE*)listener->buffer->text,
               strnlen(listener->buffer->text, sizeof listener->buffer->text - 1) + 1);
      printf("\n");
    }
    SetEvent(listener->buffer_ready);
  }
  DWORD code = 0;
  GetExitCodeProcess(process->hProcess, &code);
  PrintExit(code);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc < 2) {
    fprintf(stderr, "usage: dbgrun <exe> [--cwd <folder>] [--args <text>] [--no-debug]\n");
    return 2;
  }
  const wchar_t* exe = argv[1];
  const wchar_t* cwd = NULL;
  const wchar_t* args = NULL;
  BOOL debug = TRUE;
  for (int i = 2; i < argc; ++i) {
    if (wcscmp(argv[i], L"--no-debug") == 0) debug = FALSE;
    if (wcscmp(argv[i], L"--cwd") == 0 && i + 1 < argc) cwd = argv[++i];
    if (wcscmp(argv[i], L"--args") == 0 && i + 1 < argc) args = argv[++i];
  }
  static wchar_t command_line[32768];
  _snwprintf(command_line, 32767, L"\"%ls\"%ls%ls", exe, args ? L" " : L"", args ? args : L"");

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  Listener listener;
  if (!debug && !Listen(&listener)) {
    printf("error debug-output buffer %lu\n", GetLastError());
    return 2;
  }
  job = CreateJobObjectW(NULL, NULL);
  if (!CreateProcessW(exe, command_line, NULL, NULL, FALSE,
                      CREATE_SUSPENDED | (debug ? DEBUG_ONLY_THIS_PROCESS : 0), NULL, cwd, &startup,
                      &process)) {
    printf("error CreateProcess %lu\n", GetLastError());
    return 2;
  }
  if (!job || !AssignProcessToJobObject(job, process.hProcess)) {
    printf("error job %lu\n", GetLastError());
    TerminateProcess(process.hProcess, 1);
    return 2;
  }
  ResumeThread(process.hThread);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  printf("started %lu %lu %lld\n", process.dwProcessId, process.dwThreadId, frequency.QuadPart);
  if (!debug) return Watch(&listener, &process);

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
        PrintExit(event.u.ExitProcess.dwExitCode);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
}
