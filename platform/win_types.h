// The Windows types and constants that the launcher's logic needs, mirrored so that the logic
// compiles without <windows.h> (on Linux against the fake platform too). The real platform
// checks at compile time that every mirror has the layout of its Windows original.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define WIN_CALLBACK __stdcall
#else
#define WIN_CALLBACK
#endif

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
// UTF-16 code units, as the wide calls take them.
using WCHAR = char16_t;
using REGSAM = DWORD;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::uintptr_t;
using HANDLE = void*;
// CryptoAPI's handles are pointer-sized integers, not pointers.
using HCRYPTPROV = std::uintptr_t;
using HCRYPTHASH = std::uintptr_t;
using HCRYPTKEY = std::uintptr_t;
using ALG_ID = UINT;

struct HKEY__;
using HKEY = HKEY__*;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

using WNDPROC = LRESULT(WIN_CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
// The address of a function in a DLL loaded at run time; only the platform calls through it.
struct FARPROC__;
using FARPROC = FARPROC__*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  void* hIcon;
  void* hCursor;
  void* hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
};

struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  const WCHAR* lpVerb;
  const WCHAR* lpFile;
  const WCHAR* lpParameters;
  const WCHAR* lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  const WCHAR* lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIconOrMonitor;
  HANDLE hProcess;
};

struct MEMORY_BASIC_INFORMATION {
  void* BaseAddress;
  void* AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
};

constexpr UINT MAX_LEADBYTES = 12;
constexpr UINT MAX_DEFAULTCHAR = 2;
struct CPINFO {
  UINT MaxCharSize;
  BYTE DefaultChar[MAX_DEFAULTCHAR];
  BYTE LeadByte[MAX_LEADBYTES];
};

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

struct WINTRUST_FILE_INFO {
  DWORD cbStruct;
  const WCHAR* pcwszFilePath;
  HANDLE hFile;
  GUID* pgKnownSubject;
};

struct WINTRUST_DATA {
  DWORD cbStruct;
  void* pPolicyCallbackData;
  void* pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_FILE_INFO* pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
};

// Handed from one trust call to the next, never looked into.
struct CRYPT_PROVIDER_DATA;
struct CRYPT_PROVIDER_SGNR;
struct CERT_CONTEXT;
// The leading members only: the launcher reads the certificate through a pointer that Windows
// gives, and never makes one of these itself.
struct CRYPT_PROVIDER_CERT {
  DWORD cbStruct;
  const CERT_CONTEXT* pCert;
};

// Handles of the predefined registry keys.
inline HKEY PredefinedKey(std::uint32_t value) {
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
}
inline const HKEY HKEY_CURRENT_USER = PredefinedKey(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = PredefinedKey(0x80000002u);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_CANCELLED = 1223;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_OPEN_FAILED = 110;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_CAN_NOT_COMPLETE = 1003;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x40;
constexpr DWORD SEE_MASK_NOASYNC = 0x100;
constexpr DWORD SEE_MASK_FLAG_NO_UI = 0x400;
constexpr int SW_SHOWNORMAL = 1;

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD QS_ALLINPUT = 0x04FF;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr UINT MAX_PATH = 260;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;

constexpr DWORD WTD_UI_NONE = 2;
constexpr DWORD WTD_REVOKE_NONE = 0;
constexpr DWORD WTD_CHOICE_FILE = 1;
constexpr DWORD WTD_STATEACTION_VERIFY = 1;
constexpr DWORD WTD_STATEACTION_CLOSE = 2;
constexpr DWORD WTD_CACHE_ONLY_URL_RETRIEVAL = 0x00001000;
constexpr GUID WINTRUST_ACTION_GENERIC_VERIFY_V2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
constexpr DWORD CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
constexpr DWORD TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004;
constexpr DWORD TRUST_E_NOSIGNATURE = 0x800B0100;
constexpr DWORD TRUST_E_BAD_DIGEST = 0x80096010;
constexpr DWORD CERT_E_UNTRUSTEDROOT = 0x800B0109;
constexpr DWORD TRUST_E_NO_SIGNER_CERT = 0x80096002;

constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
constexpr ALG_ID CALG_SHA_256 = 0x800C;
constexpr DWORD HP_HASHVAL = 2;
constexpr DWORD CRYPT_E_HASH_VALUE = 0x80091007;
constexpr DWORD NTE_FAIL = 0x80090020;

constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_USER = 0x0400;

constexpr int GWL_WNDPROC = -4;
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;

constexpr UINT WM_CANCELMODE = 0x001F;
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONSTOP = 0x0010;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr DWORD MEM_COMMIT = 0x1000;

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

}  // namespace win
