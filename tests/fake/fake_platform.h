// A platform served from memory for the unit tests: a registry, a shell that starts scripted
// processes, a message queue with windows, the system's code page and the program's string
// resources (read from the real resource script). Every call is recorded with its arguments and
// result.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::fake {

#define LAUNCHER_CALL_NAME(Result, Name, Parameters) #Name,
// Every call's name, as its records give it.
inline constexpr std::string_view kCallNames[] = {LAUNCHER_WINDOWS_CALLS(LAUNCHER_CALL_NAME)};
#undef LAUNCHER_CALL_NAME

struct Call {
  std::string name;
  std::vector<std::string> args;
  long result = 0;
};

struct ScriptedProcess {
  win::DWORD exitCode = 0;
  // Waits it survives: 0 means it has ended by the first look; -1 means it never ends.
  int waitsUntilExit = 0;
};

struct RecordedShellRequest {
  win::DWORD cbSize = 0, fMask = 0;
  win::HWND hwnd = nullptr;
  std::optional<std::u16string> verb, file, parameters, directory;
  int nShow = 0;
  bool otherMembersZero = false;
};

struct FakeWindow {
  std::string className, title;
  win::DWORD exStyle = 0, style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  win::HWND parent = nullptr;
  void* menu = nullptr;
  win::HINSTANCE instance = nullptr;
  void* param = nullptr;
  win::WNDPROC procedure = nullptr;
  bool destroyed = false;
};

class FakePlatform final : public Platform {
 public:
  FakePlatform();
  ~FakePlatform() override;

  // --- What the tests set up -------------------------------------------------------------
  // Registry paths are written "HKLM\\SOFTWARE\\..."; keys are made with their parents.
  void AddKey(const std::string& path);
  void DeleteKey(const std::string& path);
  void SetValue(const std::string& keyPath, const std::string& name, win::DWORD type,
                std::string data);
  // A REG_SZ (or other string type) value with its terminating NUL.
  void SetString(const std::string& keyPath, const std::string& name, const std::string& text,
                 win::DWORD type = win::REG_SZ);
  void DeleteValue(const std::string& keyPath, const std::string& name);
  // Opens of these keys are refused with ERROR_ACCESS_DENIED.
  std::set<std::string> deniedKeys;
  // Replace the sub-key count and the longest sub-key name length that RegQueryInfoKeyA reports,
  // and the size that RegQueryValueExA reports for a value when asked without a data buffer.
  std::optional<win::DWORD> reportedSubKeyCount;
  std::optional<win::DWORD> reportedLongestSubKey;
  std::optional<win::DWORD> reportedValueSize;

  enum class ShellOutcome { kStarts, kStartsWithoutHandle, kFails };
  ShellOutcome shellOutcome = ShellOutcome::kStarts;
  ScriptedProcess process;
  // What GetLastError gives after a failed start.
  win::DWORD shellError = win::ERROR_FILE_NOT_FOUND;
  // The thread's last error, set by the calls that fail with one.
  win::DWORD lastError = 0;

  // The installer's file as CreateFileW and the trust calls see it: an open fails with
  // installerOpenError when set; WinVerifyTrust answers trustAnswer; the signer's leaf
  // certificate is named signerName.
  std::optional<win::DWORD> installerOpenError;
  win::LONG trustAnswer = 0;
  std::u16string signerName = u"Microsoft Corporation";
  // The installer's bytes, as ReadFile serves them from the held file, and the SHA-256 that the
  // hash gives for exactly those bytes, read whole from the first; any other bytes hash to
  // kOtherDigest. By default the installer is the pinned build.
  std::string installerBytes = "MZ a stand-in for vc_redist.x86.exe";
  std::string installerDigest = std::string(kPinnedBuildDigest, 32);
  static constexpr const char* kPinnedBuildDigest =
      "\xCE\x48\x43\xA9\x46\xEE\x37\x32\xEB\x2B\xFC\x09\x8D\xB5\x74\x1D"
      "\xC5\x49\x5C\x7B\xEA\x20\x4E\x11\xD3\x79\x33\x6D\xCC\x68\xE8\x75";
  static inline const std::string kOtherDigest = std::string(32, '\xEE');
  // ReadFile gives at most this many bytes a call, as it may before the end of a file.
  std::optional<win::DWORD> readLimit;
  // LoadLibraryExW does not know LOAD_LIBRARY_SEARCH_SYSTEM32, as on Windows 7 without
  // KB2533623: it fails with ERROR_INVALID_PARAMETER.
  bool librarySearchFlagUnknown = false;
  std::u16string systemDirectory = u"C:\\Windows\\system32";

  // The executable's path as GetModuleFileNameA gives it, in the ANSI code page, and as
  // GetModuleFileNameW gives it; without the latter, the ANSI bytes widened one by one
  // (Windows-1252's letters are Latin-1's).
  std::string executablePath = "C:\\Tools\\launcher.exe";
  std::optional<std::u16string> executablePathW;
  // GetModuleFileNameA cuts an over-long path like Windows XP, without a terminating NUL.
  bool cutPathWithoutNul = false;
  // OemToCharA maps these bytes; the others stay.
  std::map<unsigned char, unsigned char> oemToAnsi;
  win::UINT ansiCodePage = 1252;
  std::map<win::UINT, std::vector<win::BYTE>> leadByteRanges = {{932, {0x81, 0x9F, 0xE0, 0xFC}}};
  win::DWORD platformId = win::VER_PLATFORM_WIN32_NT;
  int screenWidth = 1024, screenHeight = 768;
  // Memory regions for VirtualQuery: committed ones that belong to a module, by address range.
  struct Region {
    std::uintptr_t begin, end;
    std::uintptr_t allocationBase;
    bool committed;
  };
  std::vector<Region> regions;
  // File names of loaded modules other than the program, by base address.
  std::map<std::uintptr_t, std::string> modulePaths;
  win::HWND captureWindow = nullptr;
  // RegEnumKeyExA fails with ERROR_MORE_DATA at these indexes after filling the whole buffer it
  // was given, with no terminator, as a failed call may leave it.
  std::set<win::DWORD> enumFailuresFillingTheBuffer;

  // Runs before each call is carried out: a test may change the fake's state there, or
  // answer the call itself by returning its failure result (outputs are then left untouched).
  std::function<std::optional<long>(const Call&)> beforeCall;

  // What one call meets, as InjectAt sets it up: the n-th call of a platform function (among
  // those whose argument at an index has a value, when one is given; every one for 0) first runs
  // the action, which may change the fake, raise or run out of memory, then fails with the
  // result, leaving the last error, when a result is given.
  struct CallFault {
    std::string call;
    std::optional<std::pair<size_t, std::string>> argument = std::nullopt;
    int nth = 0;
    std::function<void()> action = nullptr;
    std::optional<long> fail = std::nullopt;
    win::DWORD lastError = 0;
  };
  // Sets beforeCall to meet the calls with fault.
  void InjectAt(CallFault fault);

  // Every end-of-run invariant that does not hold, a line each: a key, handle, library, verify
  // state or hash left open, a close of something that was not open, a wait nothing could end.
  std::vector<std::string> ViolatedInvariants() const;

  // Messages: posted ones wait in the queue; sent ones reach their window's procedure during
  // the next PeekMessageA, as messages from other threads do.
  void PostMessage(win::HWND window, win::UINT message, win::WPARAM wParam = 0,
                   win::LPARAM lParam = 0);
  void PostQuitMessage(int exitCode = 0);
  void SendFromOtherThread(win::HWND window, win::UINT message, win::WPARAM wParam = 0,
                           win::LPARAM lParam = 0);
  std::vector<win::LRESULT> sentMessageResults;

  // --- What the tests read ---------------------------------------------------------------
  std::vector<Call> calls;
  int Count(const std::string& name) const;
  std::vector<Call> CallsTo(const std::string& name) const;
  std::vector<std::string> CallNames() const;
  // Successful key opens whose handle was not closed yet.
  int OpenKeyCount() const { return static_cast<int>(openKeys_.size()); }
  bool rootKeyClosed = false;
  // Closes of key, process, library or hash handles that were not open.
  int invalidCloses = 0;

  std::optional<RecordedShellRequest> shellRequest;
  // The installer's file: open now, and whether it was open when the shell was asked to start it.
  bool installerFileOpen = false;
  std::optional<bool> installerFileHeldAtStart;
  // Libraries loaded and not yet freed, by the name they were loaded with; trust state that a
  // verify left and no close released.
  std::map<std::u16string, int> loadedLibraries;
  bool trustStateOpen = false;
  // CryptoAPI handles given out and not yet released.
  bool hashProviderOpen = false;
  bool hashOpen = false;
  bool processHandleOpen = false;
  int processHandleCloses = 0;
  bool processEnded = false;
  // A wait that nothing could ever end: the real call would block forever.
  bool blockedForever = false;

  std::vector<std::string> debugLines;
  struct Box {
    win::HWND owner;
    std::string text, caption;
    win::UINT type;
  };
  std::vector<Box> boxes;
  std::optional<win::UINT> exitStatus;
  std::map<win::HWND, FakeWindow> windows;
  std::vector<win::WNDCLASSA> registeredClasses;
  std::vector<std::string> registeredClassNames;

  static inline win::HINSTANCE const kInstance = reinterpret_cast<win::HINSTANCE>(0x400000);
  static inline win::HANDLE const kProcessHandle = reinterpret_cast<win::HANDLE>(0x2000);
  static inline win::HANDLE const kInstallerFile = reinterpret_cast<win::HANDLE>(0x2004);

  // --- Platform ----------------------------------------------------------------------------
  LAUNCHER_WINDOWS_CALLS(LAUNCHER_OVERRIDE)

 private:
  struct Value {
    win::DWORD type;
    std::string data;
  };
  struct Key {
    std::string name;                     // as created, for enumeration
    std::map<std::string, Value> values;  // by lower-case name
  };

  // Records the call; returns the injected failure, if beforeCall gave one.
  std::optional<long> Begin(std::string name, std::vector<std::string> args);
  long End(long result);
  const std::string* KeyPath(HKEY key) const;
  std::vector<const Key*> SubKeys(const std::string& path) const;
  Key* FindKey(const std::string& path);
  void DeliverSentMessages();
  LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT WIN_CALLBACK DefaultProcedure(HWND, UINT, WPARAM, LPARAM);

  std::map<std::string, Key> keys_;  // by lower-case full path
  std::map<HKEY, std::string> openKeys_;
  std::uintptr_t nextKey_ = 0x1000;
  std::uintptr_t nextWindow_ = 0x10000;
  std::deque<MSG> queue_;
  std::deque<MSG> sent_;
  std::map<win::UINT, std::string> strings_;
  // What GetProcAddress handed out, by function name; the trust calls must come through these.
  std::map<std::string, win::FARPROC> entries_;
  void CheckEntry(FARPROC entry, const char* function) const;
  win::CRYPT_PROVIDER_CERT leaf_{};
  size_t installerPosition_ = 0;
  std::string hashed_;  // what CryptHashData was given since the hash was made
  static FakePlatform* current_;
};

// Hexadecimal text of a value, as the call records show handles, masks and flags.
std::string Hex(std::uintptr_t value);
inline std::string Hex(std::nullptr_t) {
  return Hex(std::uintptr_t{0});
}
template <class T>
std::string Hex(T* pointer) {
  return Hex(reinterpret_cast<std::uintptr_t>(pointer));
}
// UTF-8 text of UTF-16 text, as the call records show wide texts.
std::string Utf8(std::u16string_view text);

}  // namespace platform::fake
