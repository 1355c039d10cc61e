// One owner for every handle the logic holds: a kind names the handle's type, what "none" is and
// how it is released; Owned<Kind> releases what it holds exactly once, when it ends or takes
// another. The one release that is no handle's, the verify's state, takes a ScopeExit.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace launcher {

template <class Kind>
class Owned {
 public:
  using Handle = typename Kind::Handle;

  explicit Owned(platform::Platform& os, Handle handle = Kind::None()) : os_(os), handle_(handle) {}
  ~Owned() { Release(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return handle_; }
  bool empty() const { return handle_ == Kind::None(); }
  // Releases what it held and holds handle from now on.
  void reset(Handle handle = Kind::None()) {
    Release();
    handle_ = handle;
  }

 private:
  // Emptied before the release, so that a release that raises is never repeated.
  void Release() {
    if (!empty()) Kind::Release(os_, std::exchange(handle_, Kind::None()));
  }

  platform::Platform& os_;
  Handle handle_;
};

// The kinds of handle the logic holds.
namespace handle_kind {

struct Process {
  using Handle = win::HANDLE;
  static Handle None() { return nullptr; }
  // Leaves the process running.
  static void Release(platform::Platform& os, Handle process) { os.CloseHandle(process); }
};

// Closed like a process's handle; CreateFileW's "none" is INVALID_HANDLE_VALUE.
struct File : Process {
  static Handle None() { return win::INVALID_HANDLE_VALUE; }
};

struct Library {
  using Handle = win::HMODULE;
  static Handle None() { return nullptr; }
  static void Release(platform::Platform& os, Handle module) { os.FreeLibrary(module); }
};

struct RegistryKey {
  using Handle = win::HKEY;
  static Handle None() { return nullptr; }
  static void Release(platform::Platform& os, Handle key) { os.RegCloseKey(key); }
};

struct HashProvider {
  using Handle = win::HCRYPTPROV;
  static Handle None() { return 0; }
  static void Release(platform::Platform& os, Handle provider) {
    os.CryptReleaseContext(provider, 0);
  }
};

struct Hash {
  using Handle = win::HCRYPTHASH;
  static Handle None() { return 0; }
  static void Release(platform::Platform& os, Handle hash) { os.CryptDestroyHash(hash); }
};

struct Window {
  using Handle = win::HWND;
  static Handle None() { return nullptr; }
  static void Release(platform::Platform& os, Handle window) { os.DestroyWindow(window); }
};

}  // namespace handle_kind

// Runs its action when it ends, on every way out.
template <class Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action action_;
};

}  // namespace launcher
