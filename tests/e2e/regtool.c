// Applies many registry edits in one process, since every Wine start costs about half a second.
// Reads lines from stdin, fields separated by tabs; key paths start with HKLM\ or HKCU\, which
// reach the 64-bit view of a 64-bit Windows, or with HKLM32\, which writes as an ordinary 32-bit
// installer does: through registry redirection, into WOW6432Node there.
//   mkkey   <key>
//   delkey  <key>                          the whole tree; an absent key is not an error
//   set     <key> <name> <type> <hex data> any type number, the data given byte by byte, through
//                                          the ANSI call (which stores a text with a NUL)
//   setw    <key> <name> <type> <hex data> the same through the wide call: the bytes are stored
//                                          exactly (a text as UTF-16, a NUL only if given)
//   delval  <key> <name>
//   list    <key>                          prints "key <name>" per sub-key in enumeration
//                                          order, then "value <name> <type> <hex data> <size
//                                          stored, in bytes, -1 if unknown>", then "listed"
// Prints "error <line> <code>" and exits 1 at the first failing line; at the end, "ok <lines
// applied> <ANSI code page>".
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "helper_common.h"

#define MAX_FIELDS 5

static const char* SplitRoot(const char* path, HKEY* root, REGSAM* view) {
  static const struct {
    const char* prefix;
    HKEY root;
    REGSAM view;
  } roots[] = {{"HKLM\\", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
               {"HKLM32\\", HKEY_LOCAL_MACHINE, 0},
               {"HKCU\\", HKEY_CURRENT_USER, KEY_WOW64_64KEY}};
  for (size_t i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
    size_t n = strlen(roots[i].prefix);
    if (_strnicmp(path, roots[i].prefix, n) == 0) {
      *root = roots[i].root;
      *view = roots[i].view;
      return path + n;
    }
  }
  return NULL;
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static long DecodeHex(const char* hex, BYTE* out, DWORD* size) {
  size_t n = strlen(hex);
  if (n % 2) return ERROR_INVALID_DATA;
  for (size_t i = 0; i < n; i += 2) {
    int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return ERROR_INVALID_DATA;
    out[i / 2] = (BYTE)(high << 4 | low);
  }
  *size = (DWORD)(n / 2);
  return ERROR_SUCCESS;
}

static long List(HKEY root, const char* path, REGSAM view) {
  HKEY key;
  long rc = RegOpenKeyExA(root, path, 0, KEY_READ | view, &key);
  if (rc != ERROR_SUCCESS) return rc;
  char name[16384];
  static BYTE data[1 << 16];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    printf("key %s\n", name);
  }
  for (DWORD i = 0;; ++i) {
    DWORD name_size = sizeof name, data_size = sizeof data, type;
    if (RegEnumValueA(key, i, name, &name_size, NULL, &type, data, &data_size) != ERROR_SUCCESS)
      break;
    // The ANSI call may add a NUL that is not stored: the stored size is the UTF-16 one.
    WCHAR wide_name[16384];
    DWORD stored = 0;
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 16384) ||
        RegQueryValueExW(key, wide_name, NULL, NULL, NULL, &stored) != ERROR_SUCCESS)
      stored = (DWORD)-1;
    printf("value %s %lu ", name, type);
    PrintHex(data, data_size);
    printf(" %ld\n", (long)stored);
  }
  printf("listed\n");
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

// Wide, as the ANSI calls take no path over 260 characters under Wine, and an entry's may be
// longer; the name is read in the thread's code page like an ANSI one.
static long Create(HKEY root, const char* path, REGSAM view, HKEY* key) {
  static WCHAR wide[32768];
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 32768)) return (long)GetLastError();
  return RegCreateKeyExW(root, wide, 0, NULL, 0, KEY_WRITE | view, NULL, key, NULL);
}

static long Apply(char** field, int count) {
  HKEY root, key;
  REGSAM view;
  const char* path = count >= 2 ? SplitRoot(field[1], &root, &view) : NULL;
  if (!path) return ERROR_BAD_ARGUMENTS;
  const char* op = field[0];
  if (strcmp(op, "mkkey") == 0 && count == 2) {
    long rc = Create(root, path, view, &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "delkey") == 0 && count == 2) {
    // Opened in its view first: the tree calls themselves take no view.
    long rc = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS | view, &key);
    if (rc == ERROR_SUCCESS) {
      rc = RegDeleteTreeA(key, NULL);
      RegCloseKey(key);
    }
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyExA(root, path, view, 0);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  const BOOL wide = strcmp(op, "setw") == 0;
  if ((wide || strcmp(op, "set") == 0) && count == 5) {
    static BYTE data[(1 << 21) + 2];  // the 1 MiB values of the hostile tests, and a guard
    DWORD size;
    long rc = DecodeHex(field[4], data, &size);
    if (rc != ERROR_SUCCESS) return rc;
    rc = Create(root, path, view, &key);
    if (rc != ERROR_SUCCESS) return rc;
    const DWORD type = strtoul(field[3], NULL, 10);
    WCHAR name[16384];
    if (!wide)
      rc = RegSetValueExA(key, field[2], 0, type, data, size);
    else if (!MultiByteToWideChar(CP_ACP, 0, field[2], -1, name, 16384))
      rc = (long)GetLastError();
    else {
      // The wide call takes a text followed by a NUL for one whose NUL was not counted, and
      // stores that NUL too: a character that is not one after the data keeps it exact.
      data[size] = data[size + 1] = 0xFF;
      rc = RegSetValueExW(key, name, 0, type, data, size);
    }
    RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "delval") == 0 && count == 3) {
    long rc = RegOpenKeyExA(root, path, 0, KEY_WRITE | view, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegDeleteValueA(key, field[2]);
    RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "list") == 0 && count == 2) return List(root, path, view);
  return ERROR_BAD_ARGUMENTS;
}

int main(void) {
  static char line[1 << 22];  // a 1 MiB value in hex, and its key
  int number = 0;
  while (fgets(line, sizeof line, stdin)) {
    ++number;
    line[strcspn(line, "\r\n")] = '\0';
    if (!line[0]) continue;
    char* field[MAX_FIELDS];
    int count = 0;
    for (char* p = line; p && count < MAX_FIELDS; ++count) {
      field[count] = p;
      p = strchr(p, '\t');
      if (p) *p++ = '\0';
    }
    long rc = Apply(field, count);
    if (rc != ERROR_SUCCESS) {
      printf("error %d %ld\n", number, rc);
      return 1;
    }
  }
  printf("ok %d %u\n", number, GetACP());
  return 0;
}
