// The least a program can do to find the runtime's uninstall entry, whose name is its command
// line's arguments: per entry one enumeration, one open, one read of DisplayName and one close.
// Exits 0 when found, 1 when not, 2 without the key or with a name too long.
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR name, int show) {
  (void)instance, (void)previous, (void)show;
  const size_t length = strlen(name);
  // Room for the name and its NUL: Wine copies nothing when the data does not fit.
  char data[512];
  if (length >= sizeof data) return 2;
  HKEY entries;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                    KEY_READ | KEY_WOW64_64KEY, &entries) != ERROR_SUCCESS)
    return 2;
  int found = 0;
  char entry[256];
  for (DWORD index = 0; !found; ++index) {
    DWORD entry_size = sizeof entry;
    if (RegEnumKeyExA(entries, index, entry, &entry_size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
      break;
    HKEY key;
    if (RegOpenKeyExA(entries, entry, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
      continue;
    DWORD type, size = (DWORD)length + 1;
    found =
        RegQueryValueExA(key, "DisplayName", NULL, &type, (BYTE*)data, &size) == ERROR_SUCCESS &&
        size >= length && memcmp(data, name, length) == 0;
    RegCloseKey(key);
  }
  RegCloseKey(entries);
  return found ? 0 : 1;
}
