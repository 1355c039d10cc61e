// The Windows calls behind platform::Platform, each written once: its result, its name and its
// parameters as the interface declares them. LAUNCHER_CALL_<name>(X) gives X(result, name,
// (parameters)) for one call, so that a platform overriding a few calls takes their signatures
// from here; LAUNCHER_WINDOWS_CALLS(X) gives every call, in the interface's order.
#pragma once

// clang-format off

// Registry (advapi32).
#define LAUNCHER_CALL_RegOpenKeyExA(X) X(LONG, RegOpenKeyExA, (HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result))
#define LAUNCHER_CALL_RegQueryInfoKeyA(X) X(LONG, RegQueryInfoKeyA, (HKEY key, char* className, DWORD* classNameLength, DWORD* reserved, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength, DWORD* securityDescriptorLength, FILETIME* lastWriteTime))
#define LAUNCHER_CALL_RegEnumKeyExA(X) X(LONG, RegEnumKeyExA, (HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved, char* className, DWORD* classNameLength, FILETIME* lastWriteTime))
#define LAUNCHER_CALL_RegQueryValueExA(X) X(LONG, RegQueryValueExA, (HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataLength))
#define LAUNCHER_CALL_RegCloseKey(X) X(LONG, RegCloseKey, (HKEY key))

// Shell (shell32).
#define LAUNCHER_CALL_ShellExecuteExW(X) X(BOOL, ShellExecuteExW, (SHELLEXECUTEINFOW* info))

// Processes, waits and modules (kernel32).
#define LAUNCHER_CALL_GetExitCodeProcess(X) X(BOOL, GetExitCodeProcess, (HANDLE process, DWORD* exitCode))
#define LAUNCHER_CALL_WaitForSingleObject(X) X(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds))
#define LAUNCHER_CALL_CloseHandle(X) X(BOOL, CloseHandle, (HANDLE handle))
#define LAUNCHER_CALL_ExitProcess(X) X(void, ExitProcess, (UINT exitCode))
#define LAUNCHER_CALL_GetModuleFileNameA(X) X(DWORD, GetModuleFileNameA, (HMODULE module, char* fileName, DWORD size))
#define LAUNCHER_CALL_GetModuleFileNameW(X) X(DWORD, GetModuleFileNameW, (HMODULE module, WCHAR* fileName, DWORD size))
#define LAUNCHER_CALL_GetLastError(X) X(DWORD, GetLastError, ())
#define LAUNCHER_CALL_GetModuleHandleA(X) X(HMODULE, GetModuleHandleA, (const char* moduleName))
#define LAUNCHER_CALL_OutputDebugStringA(X) X(void, OutputDebugStringA, (const char* text))
#define LAUNCHER_CALL_VirtualQuery(X) X(SIZE_T, VirtualQuery, (const void* address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length))

// The installer's file, and the DLLs loaded at run time (kernel32).
#define LAUNCHER_CALL_CreateFileW(X) X(HANDLE, CreateFileW, (const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile))
#define LAUNCHER_CALL_SetFilePointer(X) X(DWORD, SetFilePointer, (HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod))
#define LAUNCHER_CALL_ReadFile(X) X(BOOL, ReadFile, (HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped))
#define LAUNCHER_CALL_LoadLibraryExW(X) X(HMODULE, LoadLibraryExW, (const WCHAR* fileName, HANDLE file, DWORD flags))
#define LAUNCHER_CALL_GetSystemDirectoryW(X) X(UINT, GetSystemDirectoryW, (WCHAR* buffer, UINT size))
#define LAUNCHER_CALL_GetProcAddress(X) X(FARPROC, GetProcAddress, (HMODULE module, const char* procName))
#define LAUNCHER_CALL_FreeLibrary(X) X(BOOL, FreeLibrary, (HMODULE module))

// Authenticode (wintrust, crypt32). These DLLs are loaded at run time, so each call takes first
// the address that GetProcAddress gave for it.
#define LAUNCHER_CALL_WinVerifyTrust(X) X(LONG, WinVerifyTrust, (FARPROC entry, HWND window, GUID* action, WINTRUST_DATA* data))
#define LAUNCHER_CALL_WTHelperProvDataFromStateData(X) X(CRYPT_PROVIDER_DATA*, WTHelperProvDataFromStateData, (FARPROC entry, HANDLE stateData))
#define LAUNCHER_CALL_WTHelperGetProvSignerFromChain(X) X(CRYPT_PROVIDER_SGNR*, WTHelperGetProvSignerFromChain, (FARPROC entry, CRYPT_PROVIDER_DATA* data, DWORD signerIndex, BOOL counterSigner, DWORD counterSignerIndex))
#define LAUNCHER_CALL_WTHelperGetProvCertFromChain(X) X(CRYPT_PROVIDER_CERT*, WTHelperGetProvCertFromChain, (FARPROC entry, CRYPT_PROVIDER_SGNR* signer, DWORD certificateIndex))
#define LAUNCHER_CALL_CertGetNameStringW(X) X(DWORD, CertGetNameStringW, (FARPROC entry, const CERT_CONTEXT* certificate, DWORD type, DWORD flags, void* typeParameter, WCHAR* name, DWORD nameLength))

// SHA-256 of the installer's file (CryptoAPI, advapi32).
#define LAUNCHER_CALL_CryptAcquireContextW(X) X(BOOL, CryptAcquireContextW, (HCRYPTPROV* provider, const WCHAR* container, const WCHAR* providerName, DWORD providerType, DWORD flags))
#define LAUNCHER_CALL_CryptCreateHash(X) X(BOOL, CryptCreateHash, (HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash))
#define LAUNCHER_CALL_CryptHashData(X) X(BOOL, CryptHashData, (HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags))
#define LAUNCHER_CALL_CryptGetHashParam(X) X(BOOL, CryptGetHashParam, (HCRYPTHASH hash, DWORD parameter, BYTE* data, DWORD* length, DWORD flags))
#define LAUNCHER_CALL_CryptDestroyHash(X) X(BOOL, CryptDestroyHash, (HCRYPTHASH hash))
#define LAUNCHER_CALL_CryptReleaseContext(X) X(BOOL, CryptReleaseContext, (HCRYPTPROV provider, DWORD flags))

// Locale (kernel32).
#define LAUNCHER_CALL_GetVersionExA(X) X(BOOL, GetVersionExA, (OSVERSIONINFOA* info))
#define LAUNCHER_CALL_GetACP(X) X(UINT, GetACP, ())
#define LAUNCHER_CALL_GetCPInfo(X) X(BOOL, GetCPInfo, (UINT codePage, CPINFO* info))

// Messages and windows (user32).
#define LAUNCHER_CALL_PeekMessageA(X) X(BOOL, PeekMessageA, (MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage))
#define LAUNCHER_CALL_TranslateMessage(X) X(BOOL, TranslateMessage, (const MSG* msg))
#define LAUNCHER_CALL_DispatchMessageA(X) X(LRESULT, DispatchMessageA, (const MSG* msg))
#define LAUNCHER_CALL_MsgWaitForMultipleObjectsEx(X) X(DWORD, MsgWaitForMultipleObjectsEx, (DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags))
#define LAUNCHER_CALL_GetClassInfoA(X) X(BOOL, GetClassInfoA, (HINSTANCE instance, const char* className, WNDCLASSA* wndClass))
#define LAUNCHER_CALL_RegisterClassA(X) X(WORD, RegisterClassA, (const WNDCLASSA* wndClass))
#define LAUNCHER_CALL_CreateWindowExA(X) X(HWND, CreateWindowExA, (DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y, int width, int height, HWND parent, void* menu, HINSTANCE instance, void* param))
// LONG_PTR stands for the LONG of the 32-bit call, wide enough for a procedure address on a
// 64-bit host too.
#define LAUNCHER_CALL_SetWindowLongA(X) X(LONG_PTR, SetWindowLongA, (HWND window, int index, LONG_PTR newLong))
#define LAUNCHER_CALL_DefWindowProcA(X) X(LRESULT, DefWindowProcA, (HWND window, UINT message, WPARAM wParam, LPARAM lParam))
// Not a Windows call: the address of DefWindowProcA itself, for a window class whose procedure
// it is. Listed because the fake must answer it too.
#define LAUNCHER_CALL_DefWindowProcAddress(X) X(WNDPROC, DefWindowProcAddress, ())
#define LAUNCHER_CALL_DestroyWindow(X) X(BOOL, DestroyWindow, (HWND window))
#define LAUNCHER_CALL_GetSystemMetrics(X) X(int, GetSystemMetrics, (int index))
#define LAUNCHER_CALL_OemToCharA(X) X(BOOL, OemToCharA, (const char* source, char* destination))
#define LAUNCHER_CALL_CharLowerA(X) X(char*, CharLowerA, (char* text))
#define LAUNCHER_CALL_LoadStringA(X) X(int, LoadStringA, (HINSTANCE instance, UINT id, char* buffer, int bufferMax))
#define LAUNCHER_CALL_GetWindowTextA(X) X(int, GetWindowTextA, (HWND window, char* text, int maxCount))
#define LAUNCHER_CALL_MessageBoxA(X) X(int, MessageBoxA, (HWND owner, const char* text, const char* caption, UINT type))
#define LAUNCHER_CALL_GetCapture(X) X(HWND, GetCapture, ())
#define LAUNCHER_CALL_SendMessageA(X) X(LRESULT, SendMessageA, (HWND window, UINT message, WPARAM wParam, LPARAM lParam))

// A call written above but left out here is missing from the interface, so its forwarder fails
// to compile; one listed here but not written above fails too.
#define LAUNCHER_WINDOWS_CALLS(X) \
  LAUNCHER_CALL_RegOpenKeyExA(X) LAUNCHER_CALL_RegQueryInfoKeyA(X) LAUNCHER_CALL_RegEnumKeyExA(X) \
  LAUNCHER_CALL_RegQueryValueExA(X) LAUNCHER_CALL_RegCloseKey(X) \
  LAUNCHER_CALL_ShellExecuteExW(X) \
  LAUNCHER_CALL_GetExitCodeProcess(X) LAUNCHER_CALL_WaitForSingleObject(X) LAUNCHER_CALL_CloseHandle(X) \
  LAUNCHER_CALL_ExitProcess(X) LAUNCHER_CALL_GetModuleFileNameA(X) LAUNCHER_CALL_GetModuleFileNameW(X) \
  LAUNCHER_CALL_GetLastError(X) LAUNCHER_CALL_GetModuleHandleA(X) LAUNCHER_CALL_OutputDebugStringA(X) \
  LAUNCHER_CALL_VirtualQuery(X) \
  LAUNCHER_CALL_CreateFileW(X) LAUNCHER_CALL_SetFilePointer(X) LAUNCHER_CALL_ReadFile(X) \
  LAUNCHER_CALL_LoadLibraryExW(X) LAUNCHER_CALL_GetSystemDirectoryW(X) \
  LAUNCHER_CALL_GetProcAddress(X) LAUNCHER_CALL_FreeLibrary(X) \
  LAUNCHER_CALL_WinVerifyTrust(X) LAUNCHER_CALL_WTHelperProvDataFromStateData(X) \
  LAUNCHER_CALL_WTHelperGetProvSignerFromChain(X) LAUNCHER_CALL_WTHelperGetProvCertFromChain(X) \
  LAUNCHER_CALL_CertGetNameStringW(X) \
  LAUNCHER_CALL_CryptAcquireContextW(X) LAUNCHER_CALL_CryptCreateHash(X) LAUNCHER_CALL_CryptHashData(X) \
  LAUNCHER_CALL_CryptGetHashParam(X) LAUNCHER_CALL_CryptDestroyHash(X) LAUNCHER_CALL_CryptReleaseContext(X) \
  LAUNCHER_CALL_GetVersionExA(X) LAUNCHER_CALL_GetACP(X) LAUNCHER_CALL_GetCPInfo(X) \
  LAUNCHER_CALL_PeekMessageA(X) LAUNCHER_CALL_TranslateMessage(X) LAUNCHER_CALL_DispatchMessageA(X) \
  LAUNCHER_CALL_MsgWaitForMultipleObjectsEx(X) LAUNCHER_CALL_GetClassInfoA(X) LAUNCHER_CALL_RegisterClassA(X) \
  LAUNCHER_CALL_CreateWindowExA(X) LAUNCHER_CALL_SetWindowLongA(X) LAUNCHER_CALL_DefWindowProcA(X) \
  LAUNCHER_CALL_DefWindowProcAddress(X) LAUNCHER_CALL_DestroyWindow(X) LAUNCHER_CALL_GetSystemMetrics(X) \
  LAUNCHER_CALL_OemToCharA(X) LAUNCHER_CALL_CharLowerA(X) LAUNCHER_CALL_LoadStringA(X) \
  LAUNCHER_CALL_GetWindowTextA(X) LAUNCHER_CALL_MessageBoxA(X) LAUNCHER_CALL_GetCapture(X) \
  LAUNCHER_CALL_SendMessageA(X)

// clang-format on

// An implementation's declaration of one call.
#define LAUNCHER_OVERRIDE(Result, Name, Parameters) Result Name Parameters override;
