#include "launcher/presence_check.h"

#include "launcher/registry.h"
#include "launcher/string_list.h"

namespace launcher {

using namespace platform;
using namespace win;

std::string UninstallKeyPath(kInitialUninstallKeyPath);

namespace {

void PrepareReader(TRegistry& reader) {
  reader.SetAccess(kUninstallAccess);
  reader.SetRootKey(HKEY_LOCAL_MACHINE);
}

// Lists the uninstall entries' names and returns the path of the key that holds them.
std::string ListUninstallEntries(Platform& os, TStringList& names) {
  TRegistry reader(os);
  PrepareReader(reader);
  std::string entriesPath = UninstallKeyPath;
  // Only an absent key means 32-bit Windows; one that is refused is not looked past.
  if (reader.OpenKey(entriesPath) == ERROR_FILE_NOT_FOUND) {
    entriesPath = kNativeUninstallKeyPath;
    reader.OpenKey(entriesPath);
  }
  reader.GetKeyNames(names);
  return entriesPath;
}

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
    // A failed open leaves the reader on the entry opened before, which is examined again.
    reader.OpenKey(entriesPath + names[i]);
    if (!reader.ValueExists(kDisplayNameValue)) continue;
    if (IsRedistName(reader.ReadString(kDisplayNameValue))) return true;
  }
  return false;
}

}  // namespace launcher
