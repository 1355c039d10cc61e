// IsRedistInstalled against a registry made from the input: entry names of any bytes, values of
// any type, size and content, entries that cannot be opened, enumerations that fail or are cut,
// sub-key counts that disagree with the entries. Every key opened is closed once, and the answer
// or error is the one that a plain reading of the rules gives.
#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "launcher/errors.h"
#include "tests/fake/fake_platform.h"

namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;

using launcher::test::kRedist;
using launcher::test::kWow;

struct Entry {
  std::string name;
  bool denied = false, hasValue = false, enumFails = false;
  win::DWORD type = win::REG_SZ;
  std::string data;
};

enum class Outcome { kNo, kYes, kWrongType };

// The rules read plainly: list the names, then examine each with the key last opened.
Outcome Model(const std::vector<Entry>& entries, const Entry& uninstallKey, win::DWORD count,
              size_t nameBuffer) {
  std::vector<std::string> names;
  std::string previous;  // what the name buffer holds
  for (win::DWORD j = 0; j < count; ++j) {
    if (j < entries.size() && !entries[j].enumFails && entries[j].name.size() + 1 <= nameBuffer)
      previous = entries[j].name.substr(0, entries[j].name.find('\0'));
    names.push_back(previous);
  }
  const Entry* held = nullptr;
  for (const std::string& name : names) {
    if (name.empty()) held = &uninstallKey;
    for (const Entry& entry : entries)
      if (entry.name == name && !entry.denied) held = &entry;
    if (held == nullptr || !held->hasValue || held->data.empty()) continue;
    if (held->type != win::REG_SZ && held->type != win::REG_EXPAND_SZ) return Outcome::kWrongType;
    if (held->data.substr(0, held->data.find('\0')).starts_with(kRedist)) return Outcome::kYes;
  }
  return Outcome::kNo;
}

Entry ReadEntry(launcher::fuzz::FuzzInput& input, std::string name) {
  static const win::DWORD kTypes[] = {
      win::REG_SZ,     win::REG_EXPAND_SZ, win::REG_SZ,       win::REG_NONE,
      win::REG_BINARY, win::REG_DWORD,     win::REG_MULTI_SZ, 11};
  Entry entry;
  entry.name = std::move(name);
  const std::uint8_t flags = input.Byte();
  entry.denied = flags & 1;
  entry.hasValue = flags & 2;
  entry.enumFails = flags & 4;
  entry.type = kTypes[flags >> 3 & 7];
  // Often the match text or a part of it, then any bytes.
  if (flags & 64) entry.data = kRedist.substr(0, 60 + input.Byte() % 7);
  entry.data += input.Text(80);
  return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace launcher;
  fuzz::FuzzInput input(data, size);
  ResetProgramState();
  FakePlatform os;

  const std::uint8_t flags = input.Byte();
  State.PlatformIsNT = flags & 1;
  if (flags & 2) State.LeadByteSet.set(0x81);
  const bool uninstallKeyOpens = !(flags & 4);
  Entry uninstallKey = ReadEntry(input, "");
  uninstallKey.hasValue = uninstallKey.hasValue && (flags & 8);
  std::vector<Entry> entries(input.Byte() % 9);
  for (size_t i = 0; i < entries.size(); ++i) {
    // Two hex digits first: names are unique and listed in the order made.
    char prefix[3];
    std::snprintf(prefix, sizeof prefix, "%02x", static_cast<unsigned>(i));
    std::string name = prefix + input.Text(60);
    std::replace(name.begin(), name.end(), '\\', '/');  // no key name holds a backslash
    entries[i] = ReadEntry(input, name);
  }

  os.AddKey(kWow);
  if (uninstallKey.hasValue) os.SetValue(kWow, "DisplayName", uninstallKey.type, uninstallKey.data);
  if (!uninstallKeyOpens) os.deniedKeys.insert(kWow);
  std::set<std::string> failingIndexes;
  size_t longest = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    const std::string path = kWow + "\\" + entry.name;
    os.AddKey(path);
    if (entry.hasValue) os.SetValue(path, "DisplayName", entry.type, entry.data);
    if (entry.denied) os.deniedKeys.insert(path);
    if (entry.enumFails) failingIndexes.insert(std::to_string(i));
    longest = std::max(longest, entry.name.size());
  }
  const std::uint8_t counts = input.Byte();
  if (counts & 1) os.reportedSubKeyCount = static_cast<win::DWORD>(entries.size() + counts / 2 % 5);
  if (counts & 2)
    os.reportedSubKeyCount = static_cast<win::DWORD>(counts / 4 % (entries.size() + 1));
  if (counts & 128) {
    longest = input.Byte();
    os.reportedLongestSubKey = static_cast<win::DWORD>(longest);
  }
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "RegEnumKeyExA" && failingIndexes.count(call.args.at(1)))
      return win::ERROR_ACCESS_DENIED;
    return std::nullopt;
  };

  std::optional<Outcome> outcome;
  try {
    outcome = IsRedistInstalled(os) ? Outcome::kYes : Outcome::kNo;
  } catch (Exception* raw) {
    const OwnedError error(raw);
    FUZZ_CHECK(std::string(error->ClassName()) == "ERegistryException");
    FUZZ_CHECK(error->Message() == test::kWrongType);
    outcome = Outcome::kWrongType;
  }

  FUZZ_CHECK(os.ViolatedInvariants().empty());
  const win::DWORD count = os.reportedSubKeyCount.value_or(static_cast<win::DWORD>(entries.size()));
  const size_t nameBuffer = longest * (State.PlatformIsNT && State.LeadByteSet.any() ? 2 : 1) + 1;
  const Outcome expected =
      uninstallKeyOpens ? Model(entries, uninstallKey, count, nameBuffer) : Outcome::kNo;
  FUZZ_CHECK(outcome == expected);
  return 0;
}
