// A registry reader that holds at most one open key, its current key, and closes it when it
// opens another, when its root key changes, and when it is destroyed.
#pragma once

#include <string>
#include <string_view>

#include "launcher/owned.h"
#include "launcher/string_list.h"
#include "platform/platform.h"

namespace launcher {

class TRegistry {
 public:
  explicit TRegistry(platform::Platform& os) : os_(os), currentKey_(os) {}
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // The samDesired of every later open.
  void SetAccess(win::REGSAM access) { access_ = access; }
  // Changing the root key closes the current key.
  void SetRootKey(win::HKEY rootKey);
  // Opens path below the root key (one leading backslash is dropped); the new key replaces the
  // current one only when the open succeeds. Returns RegOpenKeyExA's result.
  win::LONG OpenKey(std::string_view path);
  // The names of the current key's sub-keys, in enumeration order; empty when its info fails
  // or reports a longest name that no key can have.
  void GetKeyNames(TStringList& names);
  bool ValueExists(const std::string& name);
  // A REG_SZ or REG_EXPAND_SZ value as text (unexpanded); empty when it is missing or has no
  // data. Raises ERegistryException when the data cannot be read, is reported larger than any
  // text worth reading, or has another type.
  std::string ReadString(const std::string& name);

  win::HKEY CurrentKey() const { return currentKey_.get(); }

 private:
  // RegQueryValueExA's size query; the size is 0 when it fails.
  win::LONG QueryValueSize(const std::string& name, win::DWORD& size);

  platform::Platform& os_;
  win::HKEY rootKey_ = win::HKEY_CURRENT_USER;
  win::REGSAM access_ = win::KEY_ALL_ACCESS;
  Owned<handle_kind::RegistryKey> currentKey_;
};

}  // namespace launcher
