// The least a program can do to find the runtime's uninstall entry: per entry one enumeration, one
// open, one read of DisplayName and one close. Exits 0 when found, 1 when not, 2 without the key.
#include <string.h>
#include <windows.h>

static const char kName[] = "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  HKEY entries;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                    KEY_READ | KEY_WOW64_64KEY, &entries) != ERROR_SUCCESS)
    return 2;
  int found = 0;
  char entry[256];
  // Room for the name and its NUL: Wine copies nothing when the data does not fit.
  char data[sizeof kName];
  for (DWORD index = 0; !found; ++index) {
    DWORD entry_size = sizeof entry;
    if (RegEnumKeyExA(entries, index, entry, &entry_size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
      break;
    HKEY key;
    if (RegOpenKeyExA(entries, entry, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
      continue;
    DWORD type, size = sizeof data;
    found =
        RegQueryValueExA(key, "DisplayName", NULL, &type, (BYTE*)data, &size) == ERROR_SUCCESS &&
        size >= sizeof kName - 1 && memcmp(data, kName, sizeof kName - 1) == 0;
    RegCloseKey(key);
  }
  RegCloseKey(entries);
  return found ? 0 : 1;
}
