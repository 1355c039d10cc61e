// Applies many registry edits in one process, since every Wine start costs about half a second.
// Reads lines from stdin, fields separated by tabs; key paths start with HKLM\ or HKCU\:
//   mkkey   <key>
//   delkey  <key>                          the whole tree; an absent key is not an error
//   set     <key> <name> <type> <hex data> any type number, the data given byte by byte
//   delval  <key> <name>
//   list    <key>                          prints "key <name>" per sub-key in enumeration
//                                          order, then "value <name> <type> <hex data>"
// Prints "error <line> <code>" and exits 1 at the first failing line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define MAX_FIELDS 5

static const char* SplitRoot(const char* path, HKEY* root) {
  if (_strnicmp(path, "HKLM\\", 5) == 0) {
    *root = HKEY_LOCAL_MACHINE;
    return path + 5;
  }
  if (_strnicmp(path, "HKCU\\", 5) == 0) {
    *root = HKEY_CURRENT_USER;
    return path + 5;
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

static void PrintHex(const BYTE* data, DWORD size) {
  for (DWORD i = 0; i < size; ++i) printf("%02x", data[i]);
}

static long List(HKEY root, const char* path) {
  HKEY key;
  long rc = RegOpenKeyExA(root, path, 0, KEY_READ | KEY_WOW64_64KEY, &key);
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
    printf("value %s %lu ", name, type);
    PrintHex(data, data_size);
    printf("\n");
  }
  RegCloseKey(key);
  return ERROR_SUCCESS;
}

// Wide, as the ANSI calls take no path over 260 characters under Wine, and an entry's may be
// longer; the name is read in the thread's code page like an ANSI one.
static long Create(HKEY root, const char* path, HKEY* key) {
  static WCHAR wide[32768];
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 32768)) return (long)GetLastError();
  return RegCreateKeyExW(root, wide, 0, NULL, 0, KEY_WRITE | KEY_WOW64_64KEY, NULL, key, NULL);
}

static long Apply(char** field, int count) {
  HKEY root, key;
  const char* path = count >= 2 ? SplitRoot(field[1], &root) : NULL;
  if (!path) return ERROR_BAD_ARGUMENTS;
  const char* op = field[0];
  if (strcmp(op, "mkkey") == 0 && count == 2) {
    long rc = Create(root, path, &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "delkey") == 0 && count == 2) {
    long rc = RegDeleteTreeA(root, path);
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(root, path);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  if (strcmp(op, "set") == 0 && count == 5) {
    static BYTE data[1 << 21];  // room for the 1 MiB values of the hostile tests
    DWORD size;
    long rc = DecodeHex(field[4], data, &size);
    if (rc != ERROR_SUCCESS) return rc;
    rc = Create(root, path, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, field[2], 0, strtoul(field[3], NULL, 10), data, size);
    RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "delval") == 0 && count == 3) {
    long rc = RegOpenKeyExA(root, path, 0, KEY_WRITE | KEY_WOW64_64KEY, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegDeleteValueA(key, field[2]);
    RegCloseKey(key);
    return rc;
  }
  if (strcmp(op, "list") == 0 && count == 2) return List(root, path);
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
  printf("ok %d\n", number);
  return 0;
}
