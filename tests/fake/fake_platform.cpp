#include "tests/fake/fake_platform.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace platform::fake {

using namespace win;

FakePlatform* FakePlatform::current_ = nullptr;

std::string Hex(std::uintptr_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Text(const char* text) {
  return text ? std::string(text) : std::string("(null)");
}

std::string Text(const char16_t* text) {
  return text ? Utf8(text) : std::string("(null)");
}

// Copies a module path into a caller's buffer as GetModuleFileName does: cut to the buffer,
// which Vista and later end with a NUL and XP fills to the last unit.
template <class Unit>
DWORD CopyModulePath(std::basic_string_view<Unit> path, Unit* buffer, DWORD size, bool withNul) {
  if (size == 0) return 0;
  if (path.size() < size) {
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = Unit{};
    return static_cast<DWORD>(path.size());
  }
  std::copy_n(path.begin(), size, buffer);
  if (withNul) buffer[size - 1] = Unit{};
  return size;
}

std::string ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(std::string("cannot read ") + path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The resource script's string table, with the ids of the header: the fake serves exactly
// the texts that the shipped program carries. Entries are lines of the form  ID, "text".
std::map<UINT, std::string> ReadStringTable() {
  std::map<std::string, UINT> ids;
  for (const std::string& line : Lines(ReadFile(LAUNCHER_RESOURCE_IDS_FILE))) {
    std::istringstream words(line);
    std::string directive, name;
    UINT id;
    if (words >> directive >> name >> id && directive == "#define") ids[name] = id;
  }

  std::map<UINT, std::string> table;
  for (const std::string& line : Lines(ReadFile(LAUNCHER_RC_FILE))) {
    const size_t comma = line.find(',');
    const size_t open = line.find('"');
    const size_t close = line.rfind('"');
    if (comma == std::string::npos || open < comma || close <= open) continue;
    std::istringstream words(line.substr(0, comma));
    std::string name;
    words >> name;
    const UINT id = ids.count(name) ? ids[name] : static_cast<UINT>(std::stoul(name));
    const std::string raw = line.substr(open + 1, close - open - 1);
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '"') {
        text += '"';
        ++i;  // "" stands for one quote
      } else if (raw[i] == '\\' && i + 1 < raw.size()) {
        const char escaped = raw[++i];
        text += escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
      } else {
        text += raw[i];
      }
    }
    table[id] = text;
  }
  return table;
}

// Read once: fuzzing makes a fake for every input.
const std::map<UINT, std::string>& StringTable() {
  static const std::map<UINT, std::string> table = ReadStringTable();
  return table;
}

// The parent path and the last name of a registry path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

FakePlatform::FakePlatform() : strings_(StringTable()) {
  current_ = this;
  AddKey("HKLM\\SOFTWARE");
  AddKey("HKCU\\Software");
}

FakePlatform::~FakePlatform() {
  current_ = nullptr;
}

// --- Set-up --------------------------------------------------------------------------------

void FakePlatform::AddKey(const std::string& path) {
  const auto [parent, name] = SplitPath(path);
  if (!parent.empty()) AddKey(parent);
  keys_.try_emplace(Lower(path), Key{name, {}});
}

void FakePlatform::DeleteKey(const std::string& path) {
  const std::string prefix = Lower(path);
  std::erase_if(keys_, [&](const auto& item) {
    return item.first == prefix || item.first.starts_with(prefix + "\\");
  });
}

void FakePlatform::SetValue(const std::string& keyPath, const std::string& name, DWORD type,
                            std::string data) {
  AddKey(keyPath);
  FindKey(keyPath)->values[Lower(name)] = Value{type, std::move(data)};
}

void FakePlatform::SetString(const std::string& keyPath, const std::string& name,
                             const std::string& text, DWORD type) {
  SetValue(keyPath, name, type, text + '\0');
}

void FakePlatform::DeleteValue(const std::string& keyPath, const std::string& name) {
  if (Key* key = FindKey(keyPath)) key->values.erase(Lower(name));
}

void FakePlatform::PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  queue_.push_back(MSG{window, message, wParam, lParam, 0, {}});
}

void FakePlatform::PostQuitMessage(int exitCode) {
  PostMessage(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode));
}

void FakePlatform::SendFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  sent_.push_back(MSG{window, message, wParam, lParam, 0, {}});
}

// --- Records -------------------------------------------------------------------------------

int FakePlatform::Count(const std::string& name) const {
  return static_cast<int>(
      std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.name == name; }));
}

std::vector<Call> FakePlatform::CallsTo(const std::string& name) const {
  std::vector<Call> found;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
               [&](const Call& c) { return c.name == name; });
  return found;
}

std::vector<std::string> FakePlatform::CallNames() const {
  std::vector<std::string> names;
  for (const Call& c : calls) names.push_back(c.name);
  return names;
}

std::optional<long> FakePlatform::Begin(std::string name, std::vector<std::string> args) {
  calls.push_back(Call{std::move(name), std::move(args), 0});
  if (!beforeCall) return std::nullopt;
  const Call copy = calls.back();  // the hook may record calls of its own
  std::optional<long> injected = beforeCall(copy);
  if (injected) End(*injected);
  return injected;
}

void FakePlatform::InjectAt(CallFault fault) {
  beforeCall = [this, fault = std::move(fault), seen = 0](const Call& call) mutable {
    std::optional<long> result;
    if (call.name != fault.call) return result;
    if (fault.argument && call.args.at(fault.argument->first) != fault.argument->second)
      return result;
    if (fault.nth != 0 && ++seen != fault.nth) return result;
    if (fault.action) fault.action();
    if (fault.fail) {
      lastError = fault.lastError;
      result = fault.fail;
    }
    return result;
  };
}

std::vector<std::string> FakePlatform::ViolatedInvariants() const {
  const std::pair<bool, const char*> invariants[] = {
      {OpenKeyCount() == 0, "a registry key was left open"},
      {!rootKeyClosed, "a root key was closed"},
      {invalidCloses == 0, "something was closed that was not open"},
      {!processHandleOpen, "the installer's handle was left open"},
      {!blockedForever, "a wait that nothing could end"},
      {!installerFileOpen, "the installer's file was left open"},
      {loadedLibraries.empty(), "a library was left loaded"},
      {!trustStateOpen, "a verify's state was not released"},
      {!hashOpen && !hashProviderOpen, "a hash or its provider was left open"},
  };
  std::vector<std::string> violated;
  for (const auto& [holds, what] : invariants)
    if (!holds) violated.emplace_back(what);
  return violated;
}

long FakePlatform::End(long result) {
  calls.back().result = result;
  return result;
}

// --- Registry ------------------------------------------------------------------------------

const std::string* FakePlatform::KeyPath(HKEY key) const {
  static const std::string kMachine = "HKLM", kUser = "HKCU";
  if (key == HKEY_LOCAL_MACHINE) return &kMachine;
  if (key == HKEY_CURRENT_USER) return &kUser;
  const auto open = openKeys_.find(key);
  return open == openKeys_.end() ? nullptr : &open->second;
}

FakePlatform::Key* FakePlatform::FindKey(const std::string& path) {
  const auto found = keys_.find(Lower(path));
  return found == keys_.end() ? nullptr : &found->second;
}

std::vector<const FakePlatform::Key*> FakePlatform::SubKeys(const std::string& path) const {
  // The map is ordered by lower-case path: enumeration is case-insensitive alphabetical.
  const std::string prefix = Lower(path) + "\\";
  std::vector<const Key*> children;
  for (const auto& [keyPath, key] : keys_)
    if (keyPath.starts_with(prefix) && keyPath.find('\\', prefix.size()) == std::string::npos)
      children.push_back(&key);
  return children;
}

LONG FakePlatform::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired,
                                 HKEY* result) {
  if (auto injected =
          Begin("RegOpenKeyExA", {Hex(key), Text(subKey), std::to_string(options), Hex(desired)}))
    return *injected;
  const std::string* base = KeyPath(key);
  if (base == nullptr) return End(ERROR_INVALID_HANDLE);
  std::string path = *base;
  std::string relative = subKey ? subKey : "";
  while (relative.ends_with('\\')) relative.pop_back();  // Windows accepts a trailing backslash
  if (!relative.empty()) path += "\\" + relative;
  if (deniedKeys.count(path)) return End(ERROR_ACCESS_DENIED);
  if (FindKey(path) == nullptr && path != "HKLM" && path != "HKCU")
    return End(ERROR_FILE_NOT_FOUND);
  const HKEY opened = reinterpret_cast<HKEY>(nextKey_++);
  openKeys_[opened] = path;
  *result = opened;
  calls.back().args.push_back("-> " + Hex(opened));
  return End(ERROR_SUCCESS);
}

LONG FakePlatform::RegQueryInfoKeyA(HKEY key, char*, DWORD*, DWORD*, DWORD* subKeys,
                                    DWORD* maxSubKeyLength, DWORD*, DWORD* values,
                                    DWORD* maxValueNameLength, DWORD* maxValueLength, DWORD*,
                                    FILETIME* lastWriteTime) {
  if (auto injected = Begin("RegQueryInfoKeyA", {Hex(key)})) return *injected;
  const std::string* path = KeyPath(key);
  if (key == nullptr || path == nullptr) return End(ERROR_INVALID_HANDLE);
  const auto children = SubKeys(*path);
  DWORD longest = 0;
  for (const Key* child : children) longest = std::max<DWORD>(longest, child->name.size());
  if (subKeys) *subKeys = reportedSubKeyCount.value_or(static_cast<DWORD>(children.size()));
  if (maxSubKeyLength) *maxSubKeyLength = reportedLongestSubKey.value_or(longest);
  const Key* self = FindKey(*path);
  if (values) *values = self ? static_cast<DWORD>(self->values.size()) : 0;
  if (maxValueNameLength) *maxValueNameLength = 0;
  if (maxValueLength) *maxValueLength = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{};
  return End(ERROR_SUCCESS);
}

LONG FakePlatform::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD*,
                                 char*, DWORD*, FILETIME*) {
  if (auto injected = Begin("RegEnumKeyExA", {Hex(key), std::to_string(index),
                                              std::to_string(nameLength ? *nameLength : 0)}))
    return *injected;
  const std::string* path = KeyPath(key);
  if (key == nullptr || path == nullptr) return End(ERROR_INVALID_HANDLE);
  const auto children = SubKeys(*path);
  if (enumFailuresFillingTheBuffer.contains(index)) {
    std::memset(name, 'X', *nameLength);
    return End(ERROR_MORE_DATA);
  }
  if (index >= children.size()) return End(ERROR_NO_MORE_ITEMS);
  const std::string& found = children[index]->name;
  if (found.size() + 1 > *nameLength) return End(ERROR_MORE_DATA);
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameLength = static_cast<DWORD>(found.size());
  return End(ERROR_SUCCESS);
}

LONG FakePlatform::RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type,
                                    BYTE* data, DWORD* dataLength) {
  if (auto injected = Begin("RegQueryValueExA", {Hex(key), Text(valueName), data ? "data" : "size",
                                                 std::to_string(dataLength ? *dataLength : 0)}))
    return *injected;
  const std::string* path = KeyPath(key);
  if (key == nullptr || path == nullptr) return End(ERROR_INVALID_HANDLE);
  const Key* owner = FindKey(*path);
  const auto value = owner ? owner->values.find(Lower(valueName ? valueName : ""))
                           : decltype(owner->values)::const_iterator{};
  if (owner == nullptr || value == owner->values.end()) return End(ERROR_FILE_NOT_FOUND);
  const std::string& bytes = value->second.data;
  if (data == nullptr && dataLength != nullptr && reportedValueSize) {
    if (type) *type = value->second.type;
    *dataLength = *reportedValueSize;
    return End(ERROR_SUCCESS);
  }
  if (data != nullptr) {
    if (dataLength == nullptr) return End(ERROR_INVALID_PARAMETER);
    if (*dataLength < bytes.size()) {
      *dataLength = static_cast<DWORD>(bytes.size());
      return End(ERROR_MORE_DATA);
    }
    std::memcpy(data, bytes.data(), bytes.size());
  }
  if (type) *type = value->second.type;
  if (dataLength) *dataLength = static_cast<DWORD>(bytes.size());
  return End(ERROR_SUCCESS);
}

LONG FakePlatform::RegCloseKey(HKEY key) {
  if (auto injected = Begin("RegCloseKey", {Hex(key)})) return *injected;
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) rootKeyClosed = true;
  if (openKeys_.erase(key) == 0) {
    ++invalidCloses;
    return End(ERROR_INVALID_HANDLE);
  }
  return End(ERROR_SUCCESS);
}

// --- Shell and processes -------------------------------------------------------------------

BOOL FakePlatform::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  auto optional = [](const char16_t* text) {
    return text ? std::optional<std::u16string>(text) : std::nullopt;
  };
  RecordedShellRequest request;
  request.cbSize = info->cbSize;
  request.fMask = info->fMask;
  request.hwnd = info->hwnd;
  request.verb = optional(info->lpVerb);
  request.file = optional(info->lpFile);
  request.parameters = optional(info->lpParameters);
  request.directory = optional(info->lpDirectory);
  request.nShow = info->nShow;
  request.otherMembersZero = info->hInstApp == nullptr && info->lpIDList == nullptr &&
                             info->lpClass == nullptr && info->hkeyClass == nullptr &&
                             info->dwHotKey == 0 && info->hIconOrMonitor == nullptr &&
                             info->hProcess == nullptr;
  shellRequest = request;
  installerFileHeldAtStart = installerFileOpen;
  if (auto injected = Begin("ShellExecuteExW", {Text(info->lpFile)})) return *injected;
  if (shellOutcome == ShellOutcome::kFails) {
    lastError = shellError;
    return End(FALSE);
  }
  if (shellOutcome == ShellOutcome::kStarts) {
    info->hProcess = kProcessHandle;
    processHandleOpen = true;
    processEnded = process.waitsUntilExit == 0;
  }
  return End(TRUE);
}

DWORD FakePlatform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (auto injected = Begin("WaitForSingleObject", {Hex(handle), std::to_string(milliseconds)}))
    return static_cast<DWORD>(*injected);
  if (handle != kProcessHandle || !processHandleOpen) return static_cast<DWORD>(End(WAIT_FAILED));
  if (processEnded) return static_cast<DWORD>(End(WAIT_OBJECT_0));
  if (milliseconds != 0) throw std::logic_error("the fake serves only zero-time waits here");
  return static_cast<DWORD>(End(WAIT_TIMEOUT));
}

BOOL FakePlatform::GetExitCodeProcess(HANDLE handle, DWORD* exitCode) {
  if (auto injected = Begin("GetExitCodeProcess", {Hex(handle)})) return *injected;
  if (handle != kProcessHandle || !processHandleOpen) return End(FALSE);
  *exitCode = processEnded ? process.exitCode : STILL_ACTIVE;
  return End(TRUE);
}

DWORD FakePlatform::MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles,
                                                DWORD milliseconds, DWORD wakeMask, DWORD flags) {
  if (auto injected =
          Begin("MsgWaitForMultipleObjectsEx", {std::to_string(count), count ? Hex(handles[0]) : "",
                                                Hex(milliseconds), Hex(wakeMask), Hex(flags)}))
    return static_cast<DWORD>(*injected);
  if (count != 1 || handles[0] != kProcessHandle || !processHandleOpen)
    return static_cast<DWORD>(End(WAIT_FAILED));
  // MWMO_INPUTAVAILABLE: input already waiting ends the wait at once.
  if (!queue_.empty() || !sent_.empty()) return static_cast<DWORD>(End(WAIT_OBJECT_0 + 1));
  if (processEnded) return static_cast<DWORD>(End(WAIT_OBJECT_0));
  if (process.waitsUntilExit < 0) {
    blockedForever = true;
    return static_cast<DWORD>(End(WAIT_FAILED));
  }
  if (--process.waitsUntilExit <= 0) processEnded = true;
  return static_cast<DWORD>(End(processEnded ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1));
}

BOOL FakePlatform::CloseHandle(HANDLE handle) {
  if (auto injected = Begin("CloseHandle", {Hex(handle)})) return *injected;
  if (handle == kInstallerFile && installerFileOpen) {
    installerFileOpen = false;
    return End(TRUE);
  }
  if (handle != kProcessHandle || !processHandleOpen) {
    ++invalidCloses;
    return End(FALSE);
  }
  processHandleOpen = false;
  ++processHandleCloses;
  return End(TRUE);
}

void FakePlatform::ExitProcess(UINT exitCode) {
  Begin("ExitProcess", {std::to_string(exitCode)});
  exitStatus = exitCode;
}

// --- Modules, diagnostics, locale ----------------------------------------------------------

DWORD FakePlatform::GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  if (auto injected = Begin("GetModuleFileNameA", {Hex(module), std::to_string(size)}))
    return static_cast<DWORD>(*injected);
  const std::string* path = &executablePath;
  if (module != nullptr && module != kInstance) {
    const auto other = modulePaths.find(reinterpret_cast<std::uintptr_t>(module));
    if (other == modulePaths.end()) return static_cast<DWORD>(End(0));
    path = &other->second;
  }
  return static_cast<DWORD>(End(CopyModulePath<char>(*path, fileName, size, !cutPathWithoutNul)));
}

DWORD FakePlatform::GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) {
  if (auto injected = Begin("GetModuleFileNameW", {Hex(module), std::to_string(size)}))
    return static_cast<DWORD>(*injected);
  if (module != nullptr && module != kInstance) return static_cast<DWORD>(End(0));
  std::u16string path;
  if (executablePathW) {
    path = *executablePathW;
  } else {
    for (char byte : executablePath)
      path += static_cast<char16_t>(static_cast<unsigned char>(byte));
  }
  return static_cast<DWORD>(End(CopyModulePath<char16_t>(path, fileName, size, true)));
}

DWORD FakePlatform::GetLastError() {
  Begin("GetLastError", {});
  return static_cast<DWORD>(End(lastError));
}

HMODULE FakePlatform::GetModuleHandleA(const char* moduleName) {
  if (auto injected = Begin("GetModuleHandleA", {Text(moduleName)}))
    return reinterpret_cast<HMODULE>(*injected);
  return moduleName == nullptr ? kInstance : nullptr;
}

void FakePlatform::OutputDebugStringA(const char* text) {
  Begin("OutputDebugStringA", {Text(text)});
  debugLines.push_back(text);
}

SIZE_T FakePlatform::VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* buffer,
                                  SIZE_T length) {
  if (auto injected = Begin("VirtualQuery", {Hex(address), std::to_string(length)}))
    return static_cast<SIZE_T>(*injected);
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  *buffer = MEMORY_BASIC_INFORMATION{};
  buffer->State = 0x10000;  // MEM_FREE
  for (const Region& region : regions) {
    if (at < region.begin || at >= region.end) continue;
    buffer->BaseAddress = reinterpret_cast<void*>(region.begin);
    buffer->AllocationBase = reinterpret_cast<void*>(region.allocationBase);
    buffer->RegionSize = region.end - region.begin;
    buffer->State = region.committed ? MEM_COMMIT : 0x2000;  // or MEM_RESERVE
  }
  return static_cast<SIZE_T>(End(sizeof *buffer));
}

// --- The installer's file and its signature --------------------------------------------------

namespace {

// The DLLs that the fake serves, by base name, and the functions each exports.
struct FakeLibrary {
  std::u16string name;
  std::uintptr_t base;
  std::vector<std::string> functions;
};
const FakeLibrary kLibraries[] = {
    {u"wintrust.dll",
     0x70000000,
     {"WinVerifyTrust", "WTHelperProvDataFromStateData", "WTHelperGetProvSignerFromChain",
      "WTHelperGetProvCertFromChain"}},
    {u"crypt32.dll", 0x71000000, {"CertGetNameStringW"}},
};
const FakeLibrary* LibraryAt(HMODULE module) {
  for (const FakeLibrary& library : kLibraries)
    if (reinterpret_cast<std::uintptr_t>(module) == library.base) return &library;
  return nullptr;
}

const auto kTrustState = reinterpret_cast<HANDLE>(0x3000);
const auto kProvider = reinterpret_cast<CRYPT_PROVIDER_DATA*>(0x3100);
const auto kSigner = reinterpret_cast<CRYPT_PROVIDER_SGNR*>(0x3200);
const auto kCertificate = reinterpret_cast<const CERT_CONTEXT*>(0x3300);

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

HANDLE FakePlatform::CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode,
                                 void* securityAttributes, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) {
  if (auto injected = Begin("CreateFileW", {Text(fileName), Hex(desiredAccess), Hex(shareMode),
                                            std::to_string(creationDisposition)}))
    return reinterpret_cast<HANDLE>(*injected);
  if (securityAttributes != nullptr || templateFile != nullptr || flagsAndAttributes != 0x80)
    throw std::logic_error("the fake opens files only plainly");
  if (installerFileOpen) throw std::logic_error("the fake holds one file at a time");
  if (installerOpenError) {
    lastError = *installerOpenError;
    End(-1);
    return INVALID_HANDLE_VALUE;
  }
  installerFileOpen = true;
  End(reinterpret_cast<long>(kInstallerFile));
  return kInstallerFile;
}

DWORD FakePlatform::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                   DWORD moveMethod) {
  if (auto injected = Begin("SetFilePointer", {Hex(file), std::to_string(distance),
                                               Hex(distanceHigh), std::to_string(moveMethod)}))
    return static_cast<DWORD>(*injected);
  if (file != kInstallerFile || !installerFileOpen) throw std::logic_error("a seek in no file");
  if (distanceHigh != nullptr || moveMethod != FILE_BEGIN || distance < 0)
    throw std::logic_error("the fake seeks only from the start");
  installerPosition_ = static_cast<size_t>(distance);
  return static_cast<DWORD>(End(distance));
}

BOOL FakePlatform::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                            void* overlapped) {
  if (auto injected = Begin("ReadFile", {Hex(file), std::to_string(bytesToRead)})) return *injected;
  if (file != kInstallerFile || !installerFileOpen || overlapped != nullptr)
    throw std::logic_error("a read of a file that is not held");
  const size_t left = installerBytes.size() - std::min(installerPosition_, installerBytes.size());
  const size_t count = std::min<size_t>({left, bytesToRead, readLimit.value_or(bytesToRead)});
  std::memcpy(buffer, installerBytes.data() + installerPosition_, count);
  installerPosition_ += count;
  *bytesRead = static_cast<DWORD>(count);
  return End(TRUE);
}

HMODULE FakePlatform::LoadLibraryExW(const WCHAR* fileName, HANDLE file, DWORD flags) {
  if (auto injected = Begin("LoadLibraryExW", {Text(fileName), Hex(file), Hex(flags)}))
    return reinterpret_cast<HMODULE>(*injected);
  const std::u16string name(fileName);
  const std::u16string inSystem = systemDirectory + u"\\";
  for (const FakeLibrary& library : kLibraries) {
    // Served from the system folder only: by name with the search limited to it, or by the
    // full path there.
    const bool bySystemSearch = flags == LOAD_LIBRARY_SEARCH_SYSTEM32 && name == library.name;
    const bool byFullPath =
        flags == LOAD_WITH_ALTERED_SEARCH_PATH && name == inSystem + library.name;
    if (bySystemSearch && librarySearchFlagUnknown) break;
    if (!bySystemSearch && !byFullPath) continue;
    ++loadedLibraries[library.name];
    return reinterpret_cast<HMODULE>(End(static_cast<long>(library.base)));
  }
  lastError = (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) && librarySearchFlagUnknown
                  ? ERROR_INVALID_PARAMETER
                  : ERROR_MOD_NOT_FOUND;
  return reinterpret_cast<HMODULE>(End(0));
}

UINT FakePlatform::GetSystemDirectoryW(WCHAR* buffer, UINT size) {
  if (auto injected = Begin("GetSystemDirectoryW", {std::to_string(size)}))
    return static_cast<UINT>(*injected);
  if (systemDirectory.size() >= size) return static_cast<UINT>(End(systemDirectory.size() + 1));
  std::copy(systemDirectory.begin(), systemDirectory.end(), buffer);
  buffer[systemDirectory.size()] = u'\0';
  return static_cast<UINT>(End(static_cast<long>(systemDirectory.size())));
}

FARPROC FakePlatform::GetProcAddress(HMODULE module, const char* procName) {
  if (auto injected = Begin("GetProcAddress", {Hex(module), Text(procName)}))
    return reinterpret_cast<FARPROC>(*injected);
  const FakeLibrary* library = LibraryAt(module);
  if (library == nullptr || loadedLibraries[library->name] == 0)
    throw std::logic_error("GetProcAddress on a library that is not loaded");
  const auto found = std::ranges::find(library->functions, procName);
  if (found == library->functions.end()) {
    lastError = ERROR_PROC_NOT_FOUND;
    return reinterpret_cast<FARPROC>(End(0));
  }
  const auto entry = reinterpret_cast<FARPROC>(
      library->base + 0x1000 +
      0x10 * static_cast<std::uintptr_t>(found - library->functions.begin()));
  entries_[procName] = entry;
  return reinterpret_cast<FARPROC>(End(reinterpret_cast<long>(entry)));
}

BOOL FakePlatform::FreeLibrary(HMODULE module) {
  if (auto injected = Begin("FreeLibrary", {Hex(module)})) return *injected;
  const FakeLibrary* library = LibraryAt(module);
  if (library == nullptr || loadedLibraries[library->name] == 0) {
    ++invalidCloses;
    return End(FALSE);
  }
  if (--loadedLibraries[library->name] == 0) loadedLibraries.erase(library->name);
  return End(TRUE);
}

void FakePlatform::CheckEntry(FARPROC entry, const char* function) const {
  const auto found = entries_.find(function);
  if (found == entries_.end() || found->second != entry)
    throw std::logic_error(std::string(function) + " called at an address not looked up for it");
}

LONG FakePlatform::WinVerifyTrust(FARPROC entry, HWND window, GUID* action, WINTRUST_DATA* data) {
  const WINTRUST_FILE_INFO* file = data->pFile;
  auto injected = Begin(
      "WinVerifyTrust",
      {Hex(window), SameGuid(*action, WINTRUST_ACTION_GENERIC_VERIFY_V2) ? "verify-v2" : "other",
       std::to_string(data->dwStateAction), std::to_string(data->cbStruct),
       std::to_string(data->dwUIChoice), std::to_string(data->fdwRevocationChecks),
       std::to_string(data->dwUnionChoice), Hex(data->dwProvFlags),
       file ? Text(file->pcwszFilePath) : "(null)", file ? Hex(file->hFile) : "(null)"});
  CheckEntry(entry, "WinVerifyTrust");
  if (injected) return static_cast<LONG>(*injected);
  if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
    if (data->hWVTStateData == kTrustState) trustStateOpen = false;
    return End(ERROR_SUCCESS);
  }
  if (file == nullptr || file->hFile != kInstallerFile || !installerFileOpen)
    throw std::logic_error("a verify of a file that is not held");
  data->hWVTStateData = kTrustState;
  trustStateOpen = true;
  installerPosition_ = installerBytes.size();  // the check read the file, as Windows' does
  return static_cast<LONG>(End(trustAnswer));
}

CRYPT_PROVIDER_DATA* FakePlatform::WTHelperProvDataFromStateData(FARPROC entry, HANDLE stateData) {
  auto injected = Begin("WTHelperProvDataFromStateData", {Hex(stateData)});
  CheckEntry(entry, "WTHelperProvDataFromStateData");
  if (injected) return reinterpret_cast<CRYPT_PROVIDER_DATA*>(*injected);
  const bool open = stateData == kTrustState && trustStateOpen;
  return reinterpret_cast<CRYPT_PROVIDER_DATA*>(End(open ? reinterpret_cast<long>(kProvider) : 0));
}

CRYPT_PROVIDER_SGNR* FakePlatform::WTHelperGetProvSignerFromChain(FARPROC entry,
                                                                  CRYPT_PROVIDER_DATA* data,
                                                                  DWORD signerIndex,
                                                                  BOOL counterSigner,
                                                                  DWORD counterSignerIndex) {
  auto injected = Begin("WTHelperGetProvSignerFromChain",
                        {Hex(data), std::to_string(signerIndex), std::to_string(counterSigner),
                         std::to_string(counterSignerIndex)});
  CheckEntry(entry, "WTHelperGetProvSignerFromChain");
  if (injected) return reinterpret_cast<CRYPT_PROVIDER_SGNR*>(*injected);
  const bool first = data == kProvider && signerIndex == 0 && !counterSigner;
  return reinterpret_cast<CRYPT_PROVIDER_SGNR*>(End(first ? reinterpret_cast<long>(kSigner) : 0));
}

CRYPT_PROVIDER_CERT* FakePlatform::WTHelperGetProvCertFromChain(FARPROC entry,
                                                                CRYPT_PROVIDER_SGNR* signer,
                                                                DWORD certificateIndex) {
  auto injected =
      Begin("WTHelperGetProvCertFromChain", {Hex(signer), std::to_string(certificateIndex)});
  CheckEntry(entry, "WTHelperGetProvCertFromChain");
  if (injected) return reinterpret_cast<CRYPT_PROVIDER_CERT*>(*injected);
  if (signer != kSigner || certificateIndex != 0)
    return reinterpret_cast<CRYPT_PROVIDER_CERT*>(End(0));
  leaf_.cbStruct = sizeof leaf_;
  leaf_.pCert = kCertificate;
  End(reinterpret_cast<long>(&leaf_));
  return &leaf_;
}

DWORD FakePlatform::CertGetNameStringW(FARPROC entry, const CERT_CONTEXT* certificate, DWORD type,
                                       DWORD flags, void* typeParameter, WCHAR* name,
                                       DWORD nameLength) {
  auto injected = Begin("CertGetNameStringW", {Hex(certificate), std::to_string(type), Hex(flags),
                                               Hex(typeParameter), std::to_string(nameLength)});
  CheckEntry(entry, "CertGetNameStringW");
  if (injected) return static_cast<DWORD>(*injected);
  // As Windows: the name cut to the buffer and terminated, its length with the NUL; an empty
  // name (also for a type it cannot give) is a count of 1.
  const std::u16string text =
      certificate == kCertificate && type == CERT_NAME_SIMPLE_DISPLAY_TYPE ? signerName : u"";
  if (nameLength == 0) return static_cast<DWORD>(End(static_cast<long>(text.size() + 1)));
  const size_t length = std::min<size_t>(text.size(), nameLength - 1);
  std::copy_n(text.begin(), length, name);
  name[length] = u'\0';
  return static_cast<DWORD>(End(static_cast<long>(length + 1)));
}

namespace {
const HCRYPTPROV kHashProvider = 0x4000;
const HCRYPTHASH kHash = 0x4100;
}  // namespace

BOOL FakePlatform::CryptAcquireContextW(HCRYPTPROV* provider, const WCHAR* container,
                                        const WCHAR* providerName, DWORD providerType,
                                        DWORD flags) {
  if (auto injected = Begin("CryptAcquireContextW", {Text(container), Text(providerName),
                                                     std::to_string(providerType), Hex(flags)}))
    return *injected;
  // Only the one kind of provider the platform has for SHA-256, with no key container.
  if (container != nullptr || providerType != PROV_RSA_AES || flags != CRYPT_VERIFYCONTEXT) {
    lastError = 0x80090017;  // NTE_PROV_TYPE_NOT_DEF
    return End(FALSE);
  }
  *provider = kHashProvider;
  hashProviderOpen = true;
  return End(TRUE);
}

BOOL FakePlatform::CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key,
                                   DWORD flags, HCRYPTHASH* hash) {
  if (auto injected = Begin("CryptCreateHash",
                            {Hex(provider), Hex(algorithm), Hex(key), std::to_string(flags)}))
    return *injected;
  if (provider != kHashProvider || !hashProviderOpen || algorithm != CALG_SHA_256 || key != 0) {
    lastError = 0x80090008;  // NTE_BAD_ALGID
    return End(FALSE);
  }
  *hash = kHash;
  hashOpen = true;
  hashed_.clear();
  return End(TRUE);
}

BOOL FakePlatform::CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags) {
  if (auto injected = Begin("CryptHashData", {Hex(hash), std::to_string(length)})) return *injected;
  if (hash != kHash || !hashOpen || flags != 0) throw std::logic_error("data for no hash");
  hashed_.append(reinterpret_cast<const char*>(data), length);
  return End(TRUE);
}

BOOL FakePlatform::CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, BYTE* data, DWORD* length,
                                     DWORD flags) {
  if (auto injected = Begin("CryptGetHashParam",
                            {Hex(hash), std::to_string(parameter), std::to_string(*length)}))
    return *injected;
  if (hash != kHash || !hashOpen || parameter != HP_HASHVAL || flags != 0)
    throw std::logic_error("a hash value asked of no hash");
  const std::string& digest = hashed_ == installerBytes ? installerDigest : kOtherDigest;
  if (data == nullptr || *length < digest.size()) {
    *length = static_cast<DWORD>(digest.size());
    lastError = ERROR_MORE_DATA;
    return End(data == nullptr);
  }
  std::memcpy(data, digest.data(), digest.size());
  *length = static_cast<DWORD>(digest.size());
  return End(TRUE);
}

BOOL FakePlatform::CryptDestroyHash(HCRYPTHASH hash) {
  if (auto injected = Begin("CryptDestroyHash", {Hex(hash)})) return *injected;
  if (hash != kHash || !hashOpen) {
    ++invalidCloses;
    return End(FALSE);
  }
  hashOpen = false;
  return End(TRUE);
}

BOOL FakePlatform::CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
  if (auto injected = Begin("CryptReleaseContext", {Hex(provider), std::to_string(flags)}))
    return *injected;
  if (provider != kHashProvider || !hashProviderOpen || flags != 0) {
    ++invalidCloses;
    return End(FALSE);
  }
  hashProviderOpen = false;
  return End(TRUE);
}

BOOL FakePlatform::GetVersionExA(OSVERSIONINFOA* info) {
  if (auto injected = Begin("GetVersionExA", {std::to_string(info->dwOSVersionInfoSize)}))
    return *injected;
  info->dwMajorVersion = 10;
  info->dwPlatformId = platformId;
  return End(TRUE);
}

UINT FakePlatform::GetACP() {
  Begin("GetACP", {});
  return static_cast<UINT>(End(ansiCodePage));
}

BOOL FakePlatform::GetCPInfo(UINT codePage, CPINFO* info) {
  if (auto injected = Begin("GetCPInfo", {std::to_string(codePage)})) return *injected;
  *info = CPINFO{};
  info->MaxCharSize = 1;
  const auto ranges = leadByteRanges.find(codePage);
  if (ranges != leadByteRanges.end()) {
    info->MaxCharSize = 2;
    std::copy_n(ranges->second.begin(), std::min<size_t>(ranges->second.size(), MAX_LEADBYTES),
                info->LeadByte);
  }
  return End(TRUE);
}

// --- Messages and windows ------------------------------------------------------------------

LRESULT FakePlatform::CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto found = windows.find(window);
  if (found == windows.end() || found->second.destroyed || !found->second.procedure) return 0;
  return found->second.procedure(window, message, wParam, lParam);
}

void FakePlatform::DeliverSentMessages() {
  while (!sent_.empty()) {
    const MSG message = sent_.front();
    sent_.pop_front();
    sentMessageResults.push_back(
        CallWindow(message.hwnd, message.message, message.wParam, message.lParam));
  }
}

BOOL FakePlatform::PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax,
                                UINT removeMessage) {
  if (auto injected = Begin("PeekMessageA", {Hex(window), std::to_string(filterMin),
                                             std::to_string(filterMax), Hex(removeMessage)}))
    return *injected;
  DeliverSentMessages();
  if (queue_.empty()) return End(FALSE);
  *msg = queue_.front();
  if (removeMessage & PM_REMOVE) queue_.pop_front();
  calls.back().args.push_back("-> " + Hex(msg->message));
  return End(TRUE);
}

BOOL FakePlatform::TranslateMessage(const MSG* msg) {
  Begin("TranslateMessage", {Hex(msg->message)});
  return End(FALSE);
}

LRESULT FakePlatform::DispatchMessageA(const MSG* msg) {
  Begin("DispatchMessageA", {Hex(msg->hwnd), Hex(msg->message)});
  const size_t record = calls.size() - 1;
  const LRESULT result = CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  calls[record].result = result;
  return result;
}

BOOL FakePlatform::GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wndClass) {
  if (auto injected = Begin("GetClassInfoA", {Hex(instance), Text(className)})) return *injected;
  for (size_t i = 0; i < registeredClasses.size(); ++i) {
    if (registeredClasses[i].hInstance == instance && registeredClassNames[i] == className) {
      *wndClass = registeredClasses[i];
      return End(TRUE);
    }
  }
  return End(FALSE);
}

WORD FakePlatform::RegisterClassA(const WNDCLASSA* wndClass) {
  if (auto injected = Begin("RegisterClassA", {Text(wndClass->lpszClassName)}))
    return static_cast<WORD>(*injected);
  registeredClasses.push_back(*wndClass);
  registeredClassNames.push_back(wndClass->lpszClassName);
  return static_cast<WORD>(End(0xC000 + static_cast<long>(registeredClasses.size())));
}

HWND FakePlatform::CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                                   DWORD style, int x, int y, int width, int height, HWND parent,
                                   void* menu, HINSTANCE instance, void* param) {
  if (auto injected = Begin("CreateWindowExA", {Text(className), Text(windowName), Hex(style)}))
    return reinterpret_cast<HWND>(*injected);
  const auto known = std::find(registeredClassNames.begin(), registeredClassNames.end(),
                               std::string(className ? className : ""));
  if (known == registeredClassNames.end()) return nullptr;
  const HWND window = reinterpret_cast<HWND>(nextWindow_);
  nextWindow_ += 0x10;
  windows[window] = FakeWindow{className,
                               windowName ? windowName : "",
                               exStyle,
                               style,
                               x,
                               y,
                               width,
                               height,
                               parent,
                               menu,
                               instance,
                               param,
                               registeredClasses[known - registeredClassNames.begin()].lpfnWndProc,
                               false};
  End(static_cast<long>(reinterpret_cast<std::uintptr_t>(window)));
  return window;
}

LONG_PTR FakePlatform::SetWindowLongA(HWND window, int index, LONG_PTR newLong) {
  if (auto injected = Begin("SetWindowLongA", {Hex(window), std::to_string(index)}))
    return *injected;
  const auto found = windows.find(window);
  if (found == windows.end() || index != GWL_WNDPROC) return End(0);
  const auto old = reinterpret_cast<LONG_PTR>(found->second.procedure);
  found->second.procedure = reinterpret_cast<WNDPROC>(newLong);
  return old;
}

LRESULT FakePlatform::DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM) {
  Begin("DefWindowProcA", {Hex(window), Hex(message), std::to_string(wParam)});
  // Let a log-off or shutdown go ahead.
  return End(message == WM_QUERYENDSESSION ? 1 : 0);
}

LRESULT WIN_CALLBACK FakePlatform::DefaultProcedure(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
  return current_->DefWindowProcA(window, message, wParam, lParam);
}

WNDPROC FakePlatform::DefWindowProcAddress() {
  return &DefaultProcedure;
}

BOOL FakePlatform::DestroyWindow(HWND window) {
  if (auto injected = Begin("DestroyWindow", {Hex(window)})) return *injected;
  const auto found = windows.find(window);
  if (found == windows.end() || found->second.destroyed) return End(FALSE);
  found->second.destroyed = true;
  return End(TRUE);
}

int FakePlatform::GetSystemMetrics(int index) {
  if (auto injected = Begin("GetSystemMetrics", {std::to_string(index)}))
    return static_cast<int>(*injected);
  return static_cast<int>(End(index == SM_CXSCREEN   ? screenWidth
                              : index == SM_CYSCREEN ? screenHeight
                                                     : 0));
}

BOOL FakePlatform::OemToCharA(const char* source, char* destination) {
  Begin("OemToCharA", {Text(source)});
  const size_t length = std::strlen(source);
  std::memmove(destination, source, length + 1);
  for (size_t i = 0; i < length; ++i) {
    const auto mapped = oemToAnsi.find(static_cast<unsigned char>(destination[i]));
    if (mapped != oemToAnsi.end()) destination[i] = static_cast<char>(mapped->second);
  }
  return End(TRUE);
}

char* FakePlatform::CharLowerA(char* text) {
  Begin("CharLowerA", {Text(text)});
  // Windows-1252: ASCII and the accented capitals 0xC0-0xDE (but the multiplication sign).
  for (char* c = text; *c; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7))
      *c = static_cast<char>(byte + 0x20);
  }
  return text;
}

int FakePlatform::LoadStringA(HINSTANCE instance, UINT id, char* buffer, int bufferMax) {
  if (auto injected = Begin("LoadStringA", {Hex(instance), std::to_string(id)}))
    return static_cast<int>(*injected);
  const auto found = strings_.find(id);
  if (instance != kInstance || found == strings_.end() || bufferMax <= 0) {
    if (bufferMax > 0) buffer[0] = '\0';
    return static_cast<int>(End(0));
  }
  const size_t length = std::min(found->second.size(), static_cast<size_t>(bufferMax - 1));
  std::memcpy(buffer, found->second.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(End(static_cast<long>(length)));
}

int FakePlatform::GetWindowTextA(HWND window, char* text, int maxCount) {
  if (auto injected = Begin("GetWindowTextA", {Hex(window), std::to_string(maxCount)}))
    return static_cast<int>(*injected);
  const auto found = windows.find(window);
  if (maxCount <= 0) return static_cast<int>(End(0));
  const std::string title = found == windows.end() ? "" : found->second.title;
  const size_t length = std::min(title.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(text, title.data(), length);
  text[length] = '\0';
  return static_cast<int>(End(static_cast<long>(length)));
}

int FakePlatform::MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  if (auto injected = Begin("MessageBoxA", {Hex(owner), Text(text), Text(caption), Hex(type)}))
    return static_cast<int>(*injected);
  boxes.push_back(Box{owner, Text(text), Text(caption), type});
  return static_cast<int>(End(1));  // IDOK
}

HWND FakePlatform::GetCapture() {
  Begin("GetCapture", {});
  End(static_cast<long>(reinterpret_cast<std::uintptr_t>(captureWindow)));
  return captureWindow;
}

LRESULT FakePlatform::SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Begin("SendMessageA",
        {Hex(window), Hex(message), std::to_string(wParam), std::to_string(lParam)});
  return End(CallWindow(window, message, wParam, lParam));
}

}  // namespace platform::fake
