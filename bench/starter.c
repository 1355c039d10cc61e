// Starts programs one after another, each the same way, and times them on the performance counter.
// Usage: starter <job file> <warm-up rounds> <rounds> [poll]
// Each job file line: <label> TAB <working folder or -> TAB <command line>. Every round runs each
// job once, in file order on even rounds and in reverse on odd ones, so no job always goes first.
// Prints, as they happen:
//   freq <counts per second>
//   started <label> <round> <pid>
//   run <label> <round> <pid> <counter before CreateProcess> <counter after the wait> <exit code>
//       <peak working set read after the exit> <peak working set last read while running>
// A peak working set that could not be read is -1. Only with "poll" is it read while the program
// runs, every millisecond; Wine may no longer answer once the process is gone.
// Warm-up rounds are numbered below 0.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <psapi.h>

#define MAX_JOBS 16

typedef struct {
  char label[64];
  char cwd[MAX_PATH];
  char command[4096];
} Job;

static Job jobs[MAX_JOBS];

static int ReadJobs(const char* path) {
  FILE* file = fopen(path, "r");
  if (!file) return -1;
  int count = 0;
  char line[sizeof(Job)];
  while (count < MAX_JOBS && fgets(line, sizeof line, file)) {
    line[strcspn(line, "\r\n")] = '\0';
    char* cwd = strchr(line, '\t');
    char* command = cwd ? strchr(cwd + 1, '\t') : NULL;
    if (!command) continue;
    *cwd++ = '\0';
    *command++ = '\0';
    snprintf(jobs[count].label, sizeof jobs[count].label, "%s", line);
    snprintf(jobs[count].cwd, sizeof jobs[count].cwd, "%s", strcmp(cwd, "-") ? cwd : "");
    snprintf(jobs[count].command, sizeof jobs[count].command, "%s", command);
    ++count;
  }
  fclose(file);
  return count;
}

static long long PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS memory;
  ZeroMemory(&memory, sizeof memory);
  memory.cb = sizeof memory;
  if (!GetProcessMemoryInfo(process, &memory, sizeof memory)) return -1;
  return memory.PeakWorkingSetSize ? (long long)memory.PeakWorkingSetSize : -1;
}

static int Run(const Job* job, int round, HANDLE nul, BOOL poll) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  // Console output goes nowhere, so no child pays for a terminal or a pipe.
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION process;
  static char command[sizeof job->command];
  strcpy(command, job->command);  // CreateProcessA may write to it

  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, DETACHED_PROCESS, NULL,
                      job->cwd[0] ? job->cwd : NULL, &startup, &process)) {
    printf("error CreateProcess %s %lu\n", job->label, GetLastError());
    return 0;
  }
  printf("started %s %d %lu\n", job->label, round, process.dwProcessId);
  long long polled = -1;
  if (poll) {
    while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
      long long peak = PeakWorkingSet(process.hProcess);
      if (peak > polled) polled = peak;
    }
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&after);

  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  // Read after the exit but before the handle is closed.
  long long peak = PeakWorkingSet(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  printf("run %s %d %lu %lld %lld %ld %lld %lld\n", job->label, round, process.dwProcessId,
         before.QuadPart, after.QuadPart, (long)code, peak, polled);
  return 1;
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: starter <job file> <warm-up rounds> <rounds> [poll]\n");
    return 2;
  }
  int count = ReadJobs(argv[1]);
  if (count <= 0) {
    printf("error no jobs in %s\n", argv[1]);
    return 2;
  }
  int warmups = atoi(argv[2]), rounds = atoi(argv[3]);
  BOOL poll = argc == 5 && strcmp(argv[4], "poll") == 0;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, NULL);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  printf("freq %lld\n", frequency.QuadPart);
  for (int round = -warmups; round < rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      int index = (round & 1) ? count - 1 - i : i;
      if (!Run(&jobs[index], round, nul, poll)) return 1;
    }
  }
  printf("done\n");
  return 0;
}
