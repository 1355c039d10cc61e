// Stands in for vc_redist.x86.exe. It records how it was started, then does what its environment
// asks; children of the launcher inherit that environment, so the test decides each run's course.
//   STUB_LOG           file to append "start <pid> <hex module path> <hex command line> <show
//                      state> <performance counter at entry>" and, on a normal end, "end <pid>
//                      <exit code> <performance counter>" to; the path and the command line are
//                      read in UTF-16 and written in UTF-8, whatever the code page; the counter
//                      is the clock the debugger runner and the bench's starter stamp with
//   STUB_INSTALL_KEY   HKLM sub-key to create, as a 32-bit installer does, with the value
//                      DisplayName := STUB_INSTALL_NAME
//   STUB_SLEEP_MS      time to wait before ending
//   STUB_STOP_FILE     keep running until this file exists
//   STUB_SPIN          non-empty: burn one processor while running (calibrates CPU figures)
//   STUB_EXIT          exit code, decimal or 0x hex; 0 by default
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef struct {
  char text[1024];
} Setting;

// NULL when the variable is unset or empty.
static const char* Env(const char* name, Setting* value) {
  DWORD n = GetEnvironmentVariableA(name, value->text, sizeof value->text);
  return n > 0 && n < sizeof value->text ? value->text : NULL;
}

static void AppendHex(char* out, const char* text) {
  static const char digits[] = "0123456789abcdef";
  out += strlen(out);
  for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
    *out++ = digits[*p >> 4];
    *out++ = digits[*p & 15];
  }
  *out = '\0';
}

// The UTF-8 form of a UTF-16 text, in hexadecimal.
static void AppendHexUtf8(char* out, const WCHAR* text) {
  static char utf8[4 * 32768];
  if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL)) utf8[0] = '\0';
  AppendHex(out, utf8);
}

// One write per record with FILE_APPEND_DATA, so records of concurrent stubs never interleave.
static void Record(const char* line) {
  Setting value;
  const char* log = Env("STUB_LOG", &value);
  if (!log) return;
  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  CloseHandle(file);
}

static BOOL Exists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static void Install(void) {
  Setting key_value, name_value;
  const char* key_path = Env("STUB_INSTALL_KEY", &key_value);
  const char* name = Env("STUB_INSTALL_NAME", &name_value);
  if (!key_path || !name) return;
  HKEY key;
  // As a 32-bit installer writes: through registry redirection on 64-bit Windows.
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    ExitProcess(90);
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)name, (DWORD)strlen(name) + 1);
  RegCloseKey(key);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args;
  LARGE_INTEGER entered;
  QueryPerformanceCounter(&entered);
  static char line[16 * 32768 + 64];
  static WCHAR module[32768];
  if (!GetModuleFileNameW(NULL, module, 32768)) module[0] = L'\0';
  sprintf(line, "start %lu ", GetCurrentProcessId());
  AppendHexUtf8(line, module);
  strcat(line, " ");
  AppendHexUtf8(line, GetCommandLineW());
  sprintf(line + strlen(line), " %d %lld\n", show, entered.QuadPart);
  Record(line);

  Install();

  Setting sleep_value, stop_value, spin_value, exit_value;
  const char* sleep_ms = Env("STUB_SLEEP_MS", &sleep_value);
  if (sleep_ms) Sleep(strtoul(sleep_ms, NULL, 10));

  const char* stop_file = Env("STUB_STOP_FILE", &stop_value);
  if (Env("STUB_SPIN", &spin_value)) {
    volatile unsigned long counter = 0;
    while (!stop_file || !Exists(stop_file))
      // A look at the stop file every 50 ms or so: the spinning shows in this process's own
      // threads and hardly at all in wineserver.
      for (int i = 0; i < 50000000; ++i) ++counter;
  } else if (stop_file) {
    while (!Exists(stop_file)) Sleep(20);
  }

  const char* exit_text = Env("STUB_EXIT", &exit_value);
  DWORD code = exit_text ? (DWORD)strtoll(exit_text, NULL, 0) : 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  sprintf(line, "end %lu %ld %lld\n", GetCurrentProcessId(), (long)code, now.QuadPart);
  Record(line);
  return (int)code;
}
