// The platform operations served by Windows itself.
#pragma once

#include "platform/platform.h"

namespace platform {

class Win32Platform : public Platform {
 public:
  LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired,
                     HKEY* result) override;
  LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classNameLength, DWORD* reserved,
                        DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                        DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                        DWORD* securityDescriptorLength, FILETIME* lastWriteTime) override;
  LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved,
                     char* className, DWORD* classNameLength, FILETIME* lastWriteTime) override;
  LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                        DWORD* dataLength) override;
  LONG RegCloseKey(HKEY key) override;
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL CloseHandle(HANDLE handle) override;
  void ExitProcess(UINT exitCode) override;
  DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) override;
  DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) override;
  DWORD GetLastError() override;
  HMODULE GetModuleHandleA(const char* moduleName) override;
  void OutputDebugStringA(const char* text) override;
  SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* buffer,
                      SIZE_T length) override;
  BOOL GetVersionExA(OSVERSIONINFOA* info) override;
  UINT GetACP() override;
  BOOL GetCPInfo(UINT codePage, CPINFO* info) override;
  BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax,
                    UINT removeMessage) override;
  BOOL TranslateMessage(const MSG* msg) override;
  LRESULT DispatchMessageA(const MSG* msg) override;
  DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds,
                                    DWORD wakeMask, DWORD flags) override;
  BOOL GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wndClass) override;
  WORD RegisterClassA(const WNDCLASSA* wndClass) override;
  HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                       int x, int y, int width, int height, HWND parent, void* menu,
                       HINSTANCE instance, void* param) override;
  LONG_PTR SetWindowLongA(HWND window, int index, LONG_PTR newLong) override;
  LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  WNDPROC DefWindowProcAddress() override;
  BOOL DestroyWindow(HWND window) override;
  int GetSystemMetrics(int index) override;
  BOOL OemToCharA(const char* source, char* destination) override;
  char* CharLowerA(char* text) override;
  int LoadStringA(HINSTANCE instance, UINT id, char* buffer, int bufferMax) override;
  int GetWindowTextA(HWND window, char* text, int maxCount) override;
  int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) override;
  HWND GetCapture() override;
  LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
};

}  // namespace platform
