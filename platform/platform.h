// The Windows operations that the launcher's logic uses, behind one interface. Each method has
// the name, the arguments and the results of the Windows call it stands for; the real
// implementation forwards to Windows, the fake of the unit tests serves them from memory.
#pragma once

#include "platform/win_types.h"

namespace platform {

// The mirrored Windows types, by their own names within this namespace.
using win::BOOL;
using win::BYTE;
using win::CPINFO;
using win::DWORD;
using win::FILETIME;
using win::HANDLE;
using win::HINSTANCE;
using win::HKEY;
using win::HMODULE;
using win::HWND;
using win::LONG;
using win::LONG_PTR;
using win::LPARAM;
using win::LRESULT;
using win::MEMORY_BASIC_INFORMATION;
using win::MSG;
using win::OSVERSIONINFOA;
using win::REGSAM;
using win::SHELLEXECUTEINFOW;
using win::SIZE_T;
using win::UINT;
using win::WCHAR;
using win::WNDCLASSA;
using win::WNDPROC;
using win::WORD;
using win::WPARAM;

class Platform {
 public:
  virtual ~Platform() = default;

  // Registry (advapi32).
  virtual LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired,
                             HKEY* result) = 0;
  virtual LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classNameLength, DWORD* reserved,
                                DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                                DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                                DWORD* securityDescriptorLength, FILETIME* lastWriteTime) = 0;
  virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved,
                             char* className, DWORD* classNameLength, FILETIME* lastWriteTime) = 0;
  virtual LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                BYTE* data, DWORD* dataLength) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;

  // Shell (shell32).
  virtual BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) = 0;

  // Processes, waits and modules (kernel32).
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual void ExitProcess(UINT exitCode) = 0;
  virtual DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) = 0;
  virtual DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) = 0;
  virtual DWORD GetLastError() = 0;
  virtual HMODULE GetModuleHandleA(const char* moduleName) = 0;
  virtual void OutputDebugStringA(const char* text) = 0;
  virtual SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* buffer,
                              SIZE_T length) = 0;

  // Locale (kernel32).
  virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
  virtual UINT GetACP() = 0;
  virtual BOOL GetCPInfo(UINT codePage, CPINFO* info) = 0;

  // Messages and windows (user32).
  virtual BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax,
                            UINT removeMessage) = 0;
  virtual BOOL TranslateMessage(const MSG* msg) = 0;
  virtual LRESULT DispatchMessageA(const MSG* msg) = 0;
  virtual DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds,
                                            DWORD wakeMask, DWORD flags) = 0;
  virtual BOOL GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wndClass) = 0;
  virtual WORD RegisterClassA(const WNDCLASSA* wndClass) = 0;
  virtual HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                               DWORD style, int x, int y, int width, int height, HWND parent,
                               void* menu, HINSTANCE instance, void* param) = 0;
  // LONG_PTR stands for the LONG of the 32-bit call, wide enough for a procedure address on
  // a 64-bit host too.
  virtual LONG_PTR SetWindowLongA(HWND window, int index, LONG_PTR newLong) = 0;
  virtual LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // The address of DefWindowProcA itself, for a window class whose procedure it is.
  virtual WNDPROC DefWindowProcAddress() = 0;
  virtual BOOL DestroyWindow(HWND window) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual BOOL OemToCharA(const char* source, char* destination) = 0;
  virtual char* CharLowerA(char* text) = 0;
  virtual int LoadStringA(HINSTANCE instance, UINT id, char* buffer, int bufferMax) = 0;
  virtual int GetWindowTextA(HWND window, char* text, int maxCount) = 0;
  virtual int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) = 0;
  virtual HWND GetCapture() = 0;
  virtual LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

}  // namespace platform
