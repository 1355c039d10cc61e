#include "launcher/presence_check.h"

#include "launcher/program_state.h"
#include "launcher/registry.h"
#include "launcher/string_list.h"

namespace launcher {

using platform::Platform;
using win::ERROR_FILE_NOT_FOUND;
using win::HKEY_LOCAL_MACHINE;

namespace {

void PrepareReader(TRegistry& reader) {
  reader.SetAccess(kUninstallAccess);
  reader.SetRootKey(HKEY_LOCAL_MACHINE);
}

// Lists the uninstall entries' names and returns the path of the key that holds them.
std::string ListUninstallEntries(Platform& os, TStringList& names) {
  TRegistry reader(os);
  PrepareReader(reader);
  std::string entriesPath = State.UninstallKeyPath;
  // Only an absent key means 32-bit Windows; one that is refused is not looked past.
  if (reader.OpenKey(entriesPath) == ERROR_FILE_NOT_FOUND) {
    entriesPath = kNativeUninstallKeyPath;
    reader.OpenKey(entriesPath);
  }
  reader.GetKeyNames(names);
  return entriesPath;
}

// Deliberately a prefix: a DisplayName that goes on past the runtime's 66 bytes matches too (a test
// pins this).
bool IsRedistName(std::string_view displayName) {
  return displayName.substr(0, kRedistDisplayName.size()) == kRedistDisplayName;
}

}  // namespace

bool IsRedistInstalled(Platform& os) {
  TStringList names;
  const std::string entriesPath = ListUninstallEntries(os, names);
  if (names.Count() == 0) return false;

  TRegistry reader(os);
  PrepareReader(reader);
  const int count = names.Count();
  for (int i = 0; i < count; ++i) {
    // Deliberate: a failed open leaves the reader on the entry opened before, which is examined
    // again, so an entry that cannot be opened answers with its predecessor's name (a test pins
    // this).
    reader.OpenKey(entriesPath + names[i]);
    // Deliberate: "DisplayName" is queried three times, for its existence, its size and its
    // data, so a value that changes between them reads as empty or raises (the presence
    // check's tests of value changes and of a refused entry count these queries).
    if (!reader.ValueExists(kDisplayNameValue)) continue;
    if (IsRedistName(reader.ReadString(kDisplayNameValue))) return true;
  }
  return false;
}

}  // namespace launcher
