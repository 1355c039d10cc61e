// What the Win32 helpers of the end-to-end tests share: bytes printed in hexadecimal, and the
// top-level windows of one process found by their class.
#pragma once

#include <stdio.h>
#include <string.h>
#include <windows.h>

static inline void PrintHex(const void* data, size_t size) {
  for (size_t i = 0; i < size; ++i) printf("%02x", ((const BYTE*)data)[i]);
}

typedef struct {
  DWORD pid;
  const char* class_name;
  BOOL visible_only;  // a message box is visible only once its texts are set
  HWND* found;
  int max, count;
} WindowSearch;

static inline BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
  WindowSearch* search = (WindowSearch*)param;
  DWORD pid = 0;
  char name[256];
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && (!search->visible_only || IsWindowVisible(window)) &&
      GetClassNameA(window, name, sizeof name) && strcmp(name, search->class_name) == 0) {
    if (search->count < search->max) search->found[search->count] = window;
    ++search->count;
  }
  return TRUE;
}

// The first max top-level windows of process pid with the class, in found; returns how many
// there are in all.
static inline int FindWindows(DWORD pid, const char* class_name, BOOL visible_only, HWND* found,
                              int max) {
  WindowSearch search = {pid, class_name, visible_only, found, max, 0};
  EnumWindows(VisitWindow, (LPARAM)&search);
  return search.count;
}
