#include "launcher/registry.h"

#include <vector>

#include "launcher/errors.h"
#include "launcher/program_state.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"
#include "launcher/text_format.h"

namespace launcher {

using win::BYTE;
using win::DWORD;
using win::ERROR_SUCCESS;
using win::HKEY;
using win::LONG;
using win::REG_NONE;

namespace {
// The longest key name that Windows allows, in characters.
constexpr DWORD kLongestKeyName = 32767;
// Larger than any text worth reading: a size beyond it is taken as a failed read.
constexpr DWORD kLargestValue = 64 * 1024 * 1024;
}  // namespace

void TRegistry::SetRootKey(HKEY rootKey) {
  if (rootKey == rootKey_) return;
  rootKey_ = rootKey;
  currentKey_.reset();
}

LONG TRegistry::OpenKey(std::string_view path) {
  if (path.starts_with('\\')) path.remove_prefix(1);
  const std::string subKey(path);
  HKEY key = nullptr;
  const LONG result = os_.RegOpenKeyExA(rootKey_, subKey.c_str(), 0, access_, &key);
  if (result != ERROR_SUCCESS) return result;
  // The new key is open before the old one is closed.
  currentKey_.reset(key);
  return result;
}

void TRegistry::GetKeyNames(TStringList& names) {
  names.Clear();
  DWORD subKeys = 0, longestName = 0, values = 0, longestValueName = 0, longestValue = 0;
  win::FILETIME lastWrite{};
  if (os_.RegQueryInfoKeyA(currentKey_.get(), nullptr, nullptr, nullptr, &subKeys, &longestName,
                           nullptr, &values, &longestValueName, &longestValue, nullptr,
                           &lastWrite) != ERROR_SUCCESS)
    return;
  // No key name is longer; a larger report would wrap the buffer's size on a 32-bit system.
  if (longestName > kLongestKeyName) return;
  // On NT the reported length counts UTF-16 units; an ANSI name may need two bytes for each.
  size_t longest = longestName;
  if (State.PlatformIsNT && State.LeadByteSet.any()) longest *= 2;

  // One buffer for every index, with a NUL after it that the calls never overwrite. Deliberate: a
  // failed call leaves the previous name in it, which is appended again, so the list has one name
  // for each sub-key counted (a test pins this).
  std::vector<char> name(longest + 2, '\0');
  for (DWORD index = 0; index < subKeys; ++index) {
    DWORD size = static_cast<DWORD>(longest + 1);
    os_.RegEnumKeyExA(currentKey_.get(), index, name.data(), &size, nullptr, nullptr, nullptr,
                      nullptr);
    names.Add(std::string(name.data()));
  }
}

LONG TRegistry::QueryValueSize(const std::string& name, DWORD& size) {
  DWORD type = REG_NONE;
  size = 0;
  const LONG result =
      os_.RegQueryValueExA(currentKey_.get(), name.c_str(), nullptr, &type, nullptr, &size);
  if (result != ERROR_SUCCESS) size = 0;
  return result;
}

bool TRegistry::ValueExists(const std::string& name) {
  DWORD size;
  return QueryValueSize(name, size) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) {
  DWORD size;
  QueryValueSize(name, size);
  // Deliberate: a value without data reads as empty text whatever its type, and raises no
  // wrong-type error (a test pins this).
  if (size == 0) return {};

  // The data, then a NUL of our own: data without a terminator still ends there.
  std::vector<BYTE> data;
  DWORD type = REG_NONE;
  const auto read = [&] {
    if (size > kLargestValue) return false;
    data.assign(static_cast<size_t>(size) + 1, 0);
    DWORD length = size;
    return os_.RegQueryValueExA(currentKey_.get(), name.c_str(), nullptr, &type, data.data(),
                                &length) == ERROR_SUCCESS;
  };
  if (!read())
    Raise<ERegistryException>(Format(ResourceText(os_, IDS_REGISTRY_GET_DATA_FAILED), {name}));
  if (type != win::REG_SZ && type != win::REG_EXPAND_SZ)
    Raise<ERegistryException>(Format(ResourceText(os_, IDS_REGISTRY_INVALID_DATA_TYPE), {name}));
  return std::string(reinterpret_cast<const char*>(data.data()));
}

}  // namespace launcher
