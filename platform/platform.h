// The Windows operations that the launcher's logic uses, behind one interface. Each method has
// the name, the arguments and the results of the Windows call it stands for, as
// platform/windows_calls.h lists them; the real implementation forwards to Windows, the fake of
// the unit tests serves them from memory.
#pragma once

#include "platform/win_types.h"
#include "platform/windows_calls.h"

namespace platform {

// The mirrored Windows types, by their own names within this namespace.
using win::ALG_ID;
using win::BOOL;
using win::BYTE;
using win::CERT_CONTEXT;
using win::CPINFO;
using win::CRYPT_PROVIDER_CERT;
using win::CRYPT_PROVIDER_DATA;
using win::CRYPT_PROVIDER_SGNR;
using win::DWORD;
using win::FARPROC;
using win::FILETIME;
using win::GUID;
using win::HANDLE;
using win::HCRYPTHASH;
using win::HCRYPTKEY;
using win::HCRYPTPROV;
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
using win::WINTRUST_DATA;
using win::WNDCLASSA;
using win::WNDPROC;
using win::WORD;
using win::WPARAM;

class Platform {
 public:
  virtual ~Platform() = default;

#define LAUNCHER_PURE_VIRTUAL(Result, Name, Parameters) virtual Result Name Parameters = 0;
  LAUNCHER_WINDOWS_CALLS(LAUNCHER_PURE_VIRTUAL)
#undef LAUNCHER_PURE_VIRTUAL
};

}  // namespace platform
