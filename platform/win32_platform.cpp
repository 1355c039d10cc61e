#include "platform/win32_platform.h"

#include <windows.h>

#include <shellapi.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>

namespace platform {

namespace {

// The mirrors must be the Windows types themselves, byte for byte.
template <class Mirror, class Original>
constexpr bool SameLayout = sizeof(Mirror) == sizeof(Original);

static_assert(SameLayout<win::MSG, ::MSG>);
static_assert(offsetof(win::MSG, message) == offsetof(::MSG, message));
static_assert(offsetof(win::MSG, pt) == offsetof(::MSG, pt));
static_assert(SameLayout<win::WNDCLASSA, ::WNDCLASSA>);
static_assert(offsetof(win::WNDCLASSA, lpszClassName) == offsetof(::WNDCLASSA, lpszClassName));
static_assert(SameLayout<win::SHELLEXECUTEINFOW, ::SHELLEXECUTEINFOW>);
static_assert(sizeof(::SHELLEXECUTEINFOW) == 60);
static_assert(offsetof(win::SHELLEXECUTEINFOW, nShow) == offsetof(::SHELLEXECUTEINFOW, nShow));
static_assert(offsetof(win::SHELLEXECUTEINFOW, hProcess) ==
              offsetof(::SHELLEXECUTEINFOW, hProcess));
static_assert(sizeof(win::WCHAR) == sizeof(::WCHAR));
static_assert(SameLayout<win::CPINFO, ::CPINFO>);
static_assert(SameLayout<win::OSVERSIONINFOA, ::OSVERSIONINFOA>);
static_assert(SameLayout<win::FILETIME, ::FILETIME>);
static_assert(SameLayout<win::MEMORY_BASIC_INFORMATION, ::MEMORY_BASIC_INFORMATION>);
static_assert(offsetof(win::MEMORY_BASIC_INFORMATION, State) ==
              offsetof(::MEMORY_BASIC_INFORMATION, State));
static_assert(sizeof(win::LONG_PTR) == sizeof(LONG));
static_assert(sizeof(win::HCRYPTPROV) == sizeof(::HCRYPTPROV));
static_assert(sizeof(win::HCRYPTHASH) == sizeof(::HCRYPTHASH));
static_assert(sizeof(win::ALG_ID) == sizeof(::ALG_ID));
static_assert(SameLayout<win::GUID, ::GUID>);
static_assert(SameLayout<win::WINTRUST_FILE_INFO, ::WINTRUST_FILE_INFO>);
static_assert(offsetof(win::WINTRUST_FILE_INFO, hFile) == offsetof(::WINTRUST_FILE_INFO, hFile));
static_assert(SameLayout<win::WINTRUST_DATA, ::WINTRUST_DATA>);
static_assert(offsetof(win::WINTRUST_DATA, pFile) == offsetof(::WINTRUST_DATA, pFile));
static_assert(offsetof(win::WINTRUST_DATA, hWVTStateData) ==
              offsetof(::WINTRUST_DATA, hWVTStateData));
static_assert(offsetof(win::WINTRUST_DATA, dwProvFlags) == offsetof(::WINTRUST_DATA, dwProvFlags));
static_assert(offsetof(win::CRYPT_PROVIDER_CERT, pCert) == offsetof(::CRYPT_PROVIDER_CERT, pCert));

template <class To, class From>
To As(From from) {
  return reinterpret_cast<To>(from);
}

// The function at an address that GetProcAddress gave, typed as Windows declares it.
template <auto& Function>
auto Entry(win::FARPROC entry) {
  return reinterpret_cast<decltype(&Function)>(reinterpret_cast<void*>(entry));
}

}  // namespace

LONG Win32Platform::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired,
                                  HKEY* result) {
  return ::RegOpenKeyExA(As<::HKEY>(key), subKey, options, desired, As<::HKEY*>(result));
}

LONG Win32Platform::RegQueryInfoKeyA(HKEY key, char* className, DWORD* classNameLength,
                                     DWORD* reserved, DWORD* subKeys, DWORD* maxSubKeyLength,
                                     DWORD* maxClassLength, DWORD* values,
                                     DWORD* maxValueNameLength, DWORD* maxValueLength,
                                     DWORD* securityDescriptorLength, FILETIME* lastWriteTime) {
  return ::RegQueryInfoKeyA(
      As<::HKEY>(key), className, As<LPDWORD>(classNameLength), As<LPDWORD>(reserved),
      As<LPDWORD>(subKeys), As<LPDWORD>(maxSubKeyLength), As<LPDWORD>(maxClassLength),
      As<LPDWORD>(values), As<LPDWORD>(maxValueNameLength), As<LPDWORD>(maxValueLength),
      As<LPDWORD>(securityDescriptorLength), As<::FILETIME*>(lastWriteTime));
}

LONG Win32Platform::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength,
                                  DWORD* reserved, char* className, DWORD* classNameLength,
                                  FILETIME* lastWriteTime) {
  return ::RegEnumKeyExA(As<::HKEY>(key), index, name, As<LPDWORD>(nameLength),
                         As<LPDWORD>(reserved), className, As<LPDWORD>(classNameLength),
                         As<::FILETIME*>(lastWriteTime));
}

LONG Win32Platform::RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                     BYTE* data, DWORD* dataLength) {
  return ::RegQueryValueExA(As<::HKEY>(key), valueName, As<LPDWORD>(reserved), As<LPDWORD>(type),
                            data, As<LPDWORD>(dataLength));
}

LONG Win32Platform::RegCloseKey(HKEY key) {
  return ::RegCloseKey(As<::HKEY>(key));
}

BOOL Win32Platform::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  return ::ShellExecuteExW(As<::SHELLEXECUTEINFOW*>(info));
}

BOOL Win32Platform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  return ::GetExitCodeProcess(process, As<LPDWORD>(exitCode));
}

DWORD Win32Platform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

BOOL Win32Platform::CloseHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

void Win32Platform::ExitProcess(UINT exitCode) {
  ::ExitProcess(exitCode);
}

DWORD Win32Platform::GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  return ::GetModuleFileNameA(As<::HMODULE>(module), fileName, size);
}

DWORD Win32Platform::GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) {
  return ::GetModuleFileNameW(As<::HMODULE>(module), As<::WCHAR*>(fileName), size);
}

DWORD Win32Platform::GetLastError() {
  return ::GetLastError();
}

HMODULE Win32Platform::GetModuleHandleA(const char* moduleName) {
  return As<HMODULE>(::GetModuleHandleA(moduleName));
}

void Win32Platform::OutputDebugStringA(const char* text) {
  ::OutputDebugStringA(text);
}

SIZE_T Win32Platform::VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* buffer,
                                   SIZE_T length) {
  return ::VirtualQuery(address, As<::MEMORY_BASIC_INFORMATION*>(buffer), length);
}

HANDLE Win32Platform::CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode,
                                  void* securityAttributes, DWORD creationDisposition,
                                  DWORD flagsAndAttributes, HANDLE templateFile) {
  return ::CreateFileW(As<LPCWSTR>(fileName), desiredAccess, shareMode,
                       As<LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

DWORD Win32Platform::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                    DWORD moveMethod) {
  return ::SetFilePointer(file, distance, As<PLONG>(distanceHigh), moveMethod);
}

BOOL Win32Platform::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                             void* overlapped) {
  return ::ReadFile(file, buffer, bytesToRead, As<LPDWORD>(bytesRead),
                    As<LPOVERLAPPED>(overlapped));
}

HMODULE Win32Platform::LoadLibraryExW(const WCHAR* fileName, HANDLE file, DWORD flags) {
  return As<HMODULE>(::LoadLibraryExW(As<LPCWSTR>(fileName), file, flags));
}

UINT Win32Platform::GetSystemDirectoryW(WCHAR* buffer, UINT size) {
  return ::GetSystemDirectoryW(As<LPWSTR>(buffer), size);
}

FARPROC Win32Platform::GetProcAddress(HMODULE module, const char* procName) {
  return As<FARPROC>(reinterpret_cast<void*>(::GetProcAddress(As<::HMODULE>(module), procName)));
}

BOOL Win32Platform::FreeLibrary(HMODULE module) {
  return ::FreeLibrary(As<::HMODULE>(module));
}

LONG Win32Platform::WinVerifyTrust(FARPROC entry, HWND window, GUID* action, WINTRUST_DATA* data) {
  return Entry<::WinVerifyTrust>(entry)(As<::HWND>(window), As<::GUID*>(action), data);
}

CRYPT_PROVIDER_DATA* Win32Platform::WTHelperProvDataFromStateData(FARPROC entry, HANDLE stateData) {
  return As<CRYPT_PROVIDER_DATA*>(Entry<::WTHelperProvDataFromStateData>(entry)(stateData));
}

CRYPT_PROVIDER_SGNR* Win32Platform::WTHelperGetProvSignerFromChain(FARPROC entry,
                                                                   CRYPT_PROVIDER_DATA* data,
                                                                   DWORD signerIndex,
                                                                   BOOL counterSigner,
                                                                   DWORD counterSignerIndex) {
  return As<CRYPT_PROVIDER_SGNR*>(Entry<::WTHelperGetProvSignerFromChain>(entry)(
      As<::CRYPT_PROVIDER_DATA*>(data), signerIndex, counterSigner, counterSignerIndex));
}

CRYPT_PROVIDER_CERT* Win32Platform::WTHelperGetProvCertFromChain(FARPROC entry,
                                                                 CRYPT_PROVIDER_SGNR* signer,
                                                                 DWORD certificateIndex) {
  return As<CRYPT_PROVIDER_CERT*>(Entry<::WTHelperGetProvCertFromChain>(entry)(
      As<::CRYPT_PROVIDER_SGNR*>(signer), certificateIndex));
}

DWORD Win32Platform::CertGetNameStringW(FARPROC entry, const CERT_CONTEXT* certificate, DWORD type,
                                        DWORD flags, void* typeParameter, WCHAR* name,
                                        DWORD nameLength) {
  return Entry<::CertGetNameStringW>(entry)(As<PCCERT_CONTEXT>(certificate), type, flags,
                                            typeParameter, As<LPWSTR>(name), nameLength);
}

BOOL Win32Platform::CryptAcquireContextW(HCRYPTPROV* provider, const WCHAR* container,
                                         const WCHAR* providerName, DWORD providerType,
                                         DWORD flags) {
  return ::CryptAcquireContextW(As<::HCRYPTPROV*>(provider), As<LPCWSTR>(container),
                                As<LPCWSTR>(providerName), providerType, flags);
}

BOOL Win32Platform::CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key,
                                    DWORD flags, HCRYPTHASH* hash) {
  return ::CryptCreateHash(provider, algorithm, key, flags, As<::HCRYPTHASH*>(hash));
}

BOOL Win32Platform::CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags) {
  return ::CryptHashData(hash, data, length, flags);
}

BOOL Win32Platform::CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, BYTE* data, DWORD* length,
                                      DWORD flags) {
  return ::CryptGetHashParam(hash, parameter, data, As<LPDWORD>(length), flags);
}

BOOL Win32Platform::CryptDestroyHash(HCRYPTHASH hash) {
  return ::CryptDestroyHash(hash);
}

BOOL Win32Platform::CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
  return ::CryptReleaseContext(provider, flags);
}

BOOL Win32Platform::GetVersionExA(OSVERSIONINFOA* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ::GetVersionExA(As<::OSVERSIONINFOA*>(info));
#pragma GCC diagnostic pop
}

UINT Win32Platform::GetACP() {
  return ::GetACP();
}

BOOL Win32Platform::GetCPInfo(UINT codePage, CPINFO* info) {
  return ::GetCPInfo(codePage, As<::CPINFO*>(info));
}

BOOL Win32Platform::PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax,
                                 UINT removeMessage) {
  return ::PeekMessageA(As<::MSG*>(msg), As<::HWND>(window), filterMin, filterMax, removeMessage);
}

BOOL Win32Platform::TranslateMessage(const MSG* msg) {
  return ::TranslateMessage(As<const ::MSG*>(msg));
}

LRESULT Win32Platform::DispatchMessageA(const MSG* msg) {
  return ::DispatchMessageA(As<const ::MSG*>(msg));
}

DWORD Win32Platform::MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles,
                                                 DWORD milliseconds, DWORD wakeMask, DWORD flags) {
  return ::MsgWaitForMultipleObjectsEx(count, handles, milliseconds, wakeMask, flags);
}

BOOL Win32Platform::GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wndClass) {
  return ::GetClassInfoA(As<::HINSTANCE>(instance), className, As<::WNDCLASSA*>(wndClass));
}

WORD Win32Platform::RegisterClassA(const WNDCLASSA* wndClass) {
  return ::RegisterClassA(As<const ::WNDCLASSA*>(wndClass));
}

HWND Win32Platform::CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                                    DWORD style, int x, int y, int width, int height, HWND parent,
                                    void* menu, HINSTANCE instance, void* param) {
  return As<HWND>(::CreateWindowExA(exStyle, className, windowName, style, x, y, width, height,
                                    As<::HWND>(parent), As<::HMENU>(menu),
                                    As<::HINSTANCE>(instance), param));
}

LONG_PTR Win32Platform::SetWindowLongA(HWND window, int index, LONG_PTR newLong) {
  return ::SetWindowLongA(As<::HWND>(window), index, static_cast<LONG>(newLong));
}

LRESULT Win32Platform::DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(As<::HWND>(window), message, wParam, lParam);
}

WNDPROC Win32Platform::DefWindowProcAddress() {
  return As<WNDPROC>(&::DefWindowProcA);
}

BOOL Win32Platform::DestroyWindow(HWND window) {
  return ::DestroyWindow(As<::HWND>(window));
}

int Win32Platform::GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

BOOL Win32Platform::OemToCharA(const char* source, char* destination) {
  return ::OemToCharA(source, destination);
}

char* Win32Platform::CharLowerA(char* text) {
  return ::CharLowerA(text);
}

int Win32Platform::LoadStringA(HINSTANCE instance, UINT id, char* buffer, int bufferMax) {
  return ::LoadStringA(As<::HINSTANCE>(instance), id, buffer, bufferMax);
}

int Win32Platform::GetWindowTextA(HWND window, char* text, int maxCount) {
  return ::GetWindowTextA(As<::HWND>(window), text, maxCount);
}

int Win32Platform::MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  return ::MessageBoxA(As<::HWND>(owner), text, caption, type);
}

HWND Win32Platform::GetCapture() {
  return As<HWND>(::GetCapture());
}

LRESULT Win32Platform::SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(As<::HWND>(window), message, wParam, lParam);
}

}  // namespace platform
