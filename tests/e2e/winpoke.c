// Finds the top-level "TApplication" window of a process and acts on it, one action per argument,
// in order, one output line each. Usage: winpoke <pid> <action>...
//   info            class, hex title, style, rect, visibility, screen size, thread, window count
//   quit-thread     PostThreadMessageA(window's thread, WM_QUIT)
//   quit-window     PostMessageA(window, WM_QUIT)
//   endsession:<w>  SendMessageTimeoutA(window, WM_ENDSESSION, w); prints whether it was answered
//                   (these three, and the two below, end their line with "stamp=<performance
//                   counter>" once posted or answered)
//   queryend        SendMessageTimeoutA(window, WM_QUERYENDSESSION); prints the answer
//   close           SendMessageTimeoutA(window, WM_CLOSE)
//   exists          whether the window still exists
//   dismiss         posts IDOK to every message box (#32770) of the process
//   boxes:<ms>[:<file>]  until the process ends, for at most <ms>: prints "box title=<hex>
//                   text=<hex> owner=<owner's class or -> icon=<none|stop|other|blank>
//                   buttons=<id:hex text,...> app=<none|enabled|disabled>" (the process's
//                   TApplication window) for each message box it shows, closes the box and waits
//                   for it to go; then "ended <0|1>". With a file, creates it once the first box
//                   has gone: a stub installer held by that stop file ends only after the box.
//   cpu:<ms>:<pid>[,<pid>...]  processor time of each process's threads over <ms> of wall time
//   version:<file>  the file's version resource as GetFileVersionInfoA reads it: "version
//                   file=<a.b.c.d> product=<a.b.c.d>" then "<name>=<hex value>" per string
// The window is looked for (up to 10 s) only by the actions that need it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <tlhelp32.h>

#include "helper_common.h"

// The process's TApplication window, once it has one, and how many it had then.
static HWND application_window;
static int application_windows;

static HWND Window(DWORD pid) {
  for (int waited = 0; !application_window && waited < 10000; waited += 50) {
    application_windows = FindWindows(pid, "TApplication", FALSE, &application_window, 1);
    if (!application_window) Sleep(50);
  }
  if (!application_window) {
    printf("error no TApplication window for process %lu\n", pid);
    exit(1);
  }
  return application_window;
}

// When a message was posted or answered, on the clock that the debugger runner stamps a program's
// end with.
static long long Stamp(void) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

static void Send(HWND window, const char* label, UINT message, WPARAM wparam) {
  DWORD_PTR result = 0;
  LRESULT answered = SendMessageTimeoutA(window, message, wparam, 0, SMTO_NORMAL, 5000, &result);
  printf("%s answered=%d result=%ld stamp=%lld\n", label, answered != 0, (long)result, Stamp());
}

static void Info(HWND window) {
  char class_name[256] = "", title[256] = "";
  RECT rect;
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, title, sizeof title);
  GetWindowRect(window, &rect);
  printf("info class=%s title=", class_name);
  for (const unsigned char* p = (const unsigned char*)title; *p; ++p) printf("%02x", *p);
  printf(" style=0x%08lx exstyle=0x%08lx rect=%ld,%ld,%ld,%ld visible=%d screen=%d,%d",
         (unsigned long)GetWindowLongA(window, GWL_STYLE),
         (unsigned long)GetWindowLongA(window, GWL_EXSTYLE), rect.left, rect.top, rect.right,
         rect.bottom, IsWindowVisible(window) != 0, GetSystemMetrics(SM_CXSCREEN),
         GetSystemMetrics(SM_CYSCREEN));
  printf(" thread=%lu count=%d\n", GetWindowThreadProcessId(window, NULL), application_windows);
}

static ULONGLONG Ticks(const FILETIME* time) {
  return (ULONGLONG)time->dwHighDateTime << 32 | time->dwLowDateTime;
}

static ULONGLONG Busy(HANDLE thread) {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return 0;
  return Ticks(&kernel) + Ticks(&user);
}

#define MAX_THREADS 256

// GetProcessTimes gives 0 for another process under Wine, so the threads are summed instead; the
// handles stay open so a thread that ends during the interval still counts.
static void Cpu(const char* args) {
  DWORD ms = strtoul(args, (char**)&args, 10);
  DWORD pids[16];
  int pid_count = 0;
  while ((*args == ':' || *args == ',') && pid_count < 16)
    pids[pid_count++] = strtoul(args + 1, (char**)&args, 10);

  HANDLE threads[16][MAX_THREADS];
  ULONGLONG before[16][MAX_THREADS];
  int counts[16] = {0};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  ZeroMemory(&entry, sizeof entry);
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    for (int p = 0; p < pid_count; ++p) {
      if (entry.th32OwnerProcessID != pids[p] || counts[p] == MAX_THREADS) continue;
      HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
      if (!thread) continue;
      threads[p][counts[p]] = thread;
      before[p][counts[p]++] = Busy(thread);
    }
  }
  CloseHandle(snapshot);

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Sleep(ms);
  QueryPerformanceCounter(&end);
  double wall_ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;

  for (int p = 0; p < pid_count; ++p) {
    ULONGLONG busy = 0;
    for (int t = 0; t < counts[p]; ++t) {
      busy += Busy(threads[p][t]) - before[p][t];
      CloseHandle(threads[p][t]);
    }
    printf("cpu pid=%lu busy_ms=%.1f wall_ms=%.1f threads=%d\n", pids[p], (double)busy / 10000.0,
           wall_ms, counts[p]);
  }
}

// A process's message boxes: at most this many at once.
enum { kMostBoxes = 16 };
static const char kBoxClass[] = "#32770";

typedef struct {
  HWND icon;          // the icon control, when it holds an icon
  char buttons[256];  // "<id>:<hex text>" per button, comma-separated
} BoxParts;

// A box without an icon may still hold an empty icon control.
static BOOL CALLBACK FindParts(HWND child, LPARAM param) {
  BoxParts* parts = (BoxParts*)param;
  char name[16], text[64] = "";
  DWORD_PTR icon = 0;
  if (!GetClassNameA(child, name, sizeof name)) return TRUE;
  if (_stricmp(name, "Static") == 0 &&
      (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
      SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon) && icon)
    parts->icon = child;
  if (_stricmp(name, "Button") == 0 && IsWindowVisible(child)) {
    char* out = parts->buttons + strlen(parts->buttons);
    GetWindowTextA(child, text, sizeof text);
    out += sprintf(out, "%s%d:", parts->buttons[0] ? "," : "", GetDlgCtrlID(child));
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p)
      out += sprintf(out, "%02x", *p);
  }
  return TRUE;
}

// Which icon a box shows, read off the screen: icon handles belong to the process that loaded
// them, but the pixels are there for anyone. The stop icon is the one that is mostly red.
static const char* IconKind(HWND control) {
  if (!control) return "none";
  RECT rect;
  GetWindowRect(control, &rect);
  HDC screen = GetDC(NULL);
  int red = 0, coloured = 0;
  // A box that has just appeared may not be painted yet.
  for (int tries = 0; coloured == 0 && tries < 20; ++tries) {
    if (tries) Sleep(50);
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x) {
        COLORREF pixel = GetPixel(screen, x, y);
        int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
        if (abs(r - g) + abs(g - b) + abs(b - r) < 60) continue;  // grey, white, black
        ++coloured;
        red += r > 2 * g && r > 2 * b;
      }
    }
  }
  ReleaseDC(NULL, screen);
  return coloured == 0 ? "blank" : 2 * red > coloured ? "stop" : "other";
}

static void PrintHexField(const char* label, const char* text) {
  printf(" %s=", label);
  PrintHex(text, strlen(text));
}

// The process's hidden window, as the box leaves it: disabled under a task-modal or owned box.
static const char* ApplicationWindowState(DWORD pid) {
  HWND window = NULL;
  FindWindows(pid, "TApplication", FALSE, &window, 1);
  return !window ? "none" : IsWindowEnabled(window) ? "enabled" : "disabled";
}

static void PrintBox(HWND box, DWORD pid) {
  HWND owner = GetWindow(box, GW_OWNER);
  char title[256] = "", text[2048] = "", owner_class[256] = "-";
  BoxParts parts = {NULL, ""};
  GetWindowTextA(box, title, sizeof title);
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  if (owner) GetClassNameA(owner, owner_class, sizeof owner_class);
  EnumChildWindows(box, FindParts, (LPARAM)&parts);
  printf("box");
  PrintHexField("title", title);
  PrintHexField("text", text);
  printf(" owner=%s icon=%s buttons=%s app=%s\n", owner_class, IconKind(parts.icon),
         parts.buttons[0] ? parts.buttons : "-", ApplicationWindowState(pid));
}

// One pass over the whole run, so a box shown after another one is seen too.
static void CloseBoxesUntilEnd(DWORD pid, DWORD ms, const char* release) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  BOOL ended = process == NULL;
  for (DWORD waited = 0; !ended && waited < ms; waited += 50) {
    HWND boxes[kMostBoxes];
    int count = FindWindows(pid, kBoxClass, TRUE, boxes, kMostBoxes);
    for (int i = 0; i < count && i < kMostBoxes; ++i) {
      PrintBox(boxes[i], pid);
      PostMessageA(boxes[i], WM_COMMAND, IDOK, 0);
      for (int gone = 0; IsWindow(boxes[i]) && gone < 5000; gone += 20) Sleep(20);
      if (release) {
        HANDLE file = CreateFileA(release, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        release = NULL;
      }
    }
    ended = WaitForSingleObject(process, 50) != WAIT_TIMEOUT;
  }
  printf("ended %d\n", ended);
  if (process) CloseHandle(process);
}

static void Version(const char* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  char* data = size ? malloc(size) : NULL;
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (!data || !GetFileVersionInfoA(file, 0, size, data) ||
      !VerQueryValueA(data, "\\", (void**)&fixed, &length)) {
    printf("version none\n");
    free(data);
    return;
  }
  printf("version file=%lu.%lu.%lu.%lu product=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
         fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
         fixed->dwFileVersionLS & 0xFFFF, fixed->dwProductVersionMS >> 16,
         fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
         fixed->dwProductVersionLS & 0xFFFF);
  static const char* const names[] = {"ProductName", "FileDescription", "FileVersion",
                                      "ProductVersion", "OriginalFilename"};
  for (size_t i = 0; i < sizeof names / sizeof *names; ++i) {
    char path[64];
    char* value = NULL;
    snprintf(path, sizeof path, "\\StringFileInfo\\040904E4\\%s", names[i]);
    printf("%s=", names[i]);
    if (VerQueryValueA(data, path, (void**)&value, &length))
      for (const char* c = value; *c; ++c) printf("%02x", (unsigned char)*c);
    printf("\n");
  }
  free(data);
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc < 3) {
    fprintf(stderr, "usage: winpoke <pid> <action>...\n");
    return 2;
  }
  DWORD pid = strtoul(argv[1], NULL, 10);
  for (int i = 2; i < argc; ++i) {
    const char* action = argv[i];
    if (strcmp(action, "info") == 0) {
      Info(Window(pid));
    } else if (strcmp(action, "quit-thread") == 0) {
      DWORD thread = GetWindowThreadProcessId(Window(pid), NULL);
      BOOL posted = PostThreadMessageA(thread, WM_QUIT, 0, 0);
      printf("quit-thread posted=%d stamp=%lld\n", posted != 0, Stamp());
    } else if (strcmp(action, "quit-window") == 0) {
      BOOL posted = PostMessageA(Window(pid), WM_QUIT, 0, 0);
      printf("quit-window posted=%d stamp=%lld\n", posted != 0, Stamp());
    } else if (strncmp(action, "endsession:", 11) == 0) {
      Send(Window(pid), action, WM_ENDSESSION, strtoul(action + 11, NULL, 10));
    } else if (strcmp(action, "queryend") == 0) {
      Send(Window(pid), action, WM_QUERYENDSESSION, 0);
    } else if (strcmp(action, "close") == 0) {
      Send(Window(pid), action, WM_CLOSE, 0);
    } else if (strcmp(action, "exists") == 0) {
      printf("exists %d\n", IsWindow(Window(pid)) != 0);
    } else if (strcmp(action, "dismiss") == 0) {
      HWND boxes[kMostBoxes];
      int count = FindWindows(pid, kBoxClass, FALSE, boxes, kMostBoxes);
      for (int i = 0; i < count && i < kMostBoxes; ++i) PostMessageA(boxes[i], WM_COMMAND, IDOK, 0);
      printf("dismiss done\n");
    } else if (strncmp(action, "boxes:", 6) == 0) {
      char* rest = NULL;
      DWORD ms = strtoul(action + 6, &rest, 10);
      CloseBoxesUntilEnd(pid, ms, *rest == ':' ? rest + 1 : NULL);
    } else if (strncmp(action, "cpu:", 4) == 0) {
      Cpu(action + 4);
    } else if (strncmp(action, "version:", 8) == 0) {
      Version(action + 8);
    } else {
      printf("error unknown action %s\n", action);
      return 2;
    }
  }
  return 0;
}
