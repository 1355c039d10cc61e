#include "launcher/signature_gate.h"

#include <string>

#include "launcher/installer_pin.h"
#include "launcher/last_error.h"

namespace launcher {

using namespace platform;
using namespace win;

namespace {

// A DLL of the system folder, loaded for the time of the check. Neither wintrust.dll nor
// crypt32.dll is a known DLL: loaded by name, either would be looked for in the launcher's own
// folder first, which is the folder whose installer is being checked.
class SystemLibrary {
 public:
  SystemLibrary(Platform& os, std::u16string_view name) : os_(os) {
    const std::u16string file(name);
    module_ = os.LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module_ != nullptr) return;
    error_ = LastErrorOr(os, ERROR_MOD_NOT_FOUND);
    // A Windows that does not know the flag (Vista, 7 without KB2533623): the full path then.
    if (error_ == static_cast<DWORD>(ERROR_INVALID_PARAMETER)) LoadFromSystemFolder(file);
  }
  ~SystemLibrary() {
    if (module_ != nullptr) os_.FreeLibrary(module_);
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // 0 once loaded; otherwise why it is not.
  DWORD Error() const { return module_ != nullptr ? 0 : error_; }

  // The function's address, or null with error set to why there is none.
  FARPROC Find(const char* function, DWORD& error) const {
    const FARPROC entry = os_.GetProcAddress(module_, function);
    if (entry == nullptr) error = LastErrorOr(os_, ERROR_PROC_NOT_FOUND);
    return entry;
  }

 private:
  void LoadFromSystemFolder(const std::u16string& file) {
    std::u16string path(MAX_PATH + 1, u'\0');
    const UINT length = os_.GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length == 0 || length >= path.size()) {
      error_ = length == 0 ? LastErrorOr(os_, ERROR_MOD_NOT_FOUND) : ERROR_BAD_PATHNAME;
      return;
    }
    path.resize(length);
    path += u"\\" + file;
    module_ = os_.LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module_ == nullptr) error_ = LastErrorOr(os_, ERROR_MOD_NOT_FOUND);
  }

  Platform& os_;
  HMODULE module_ = nullptr;
  DWORD error_ = 0;
};

struct TrustEntries {
  FARPROC verify, providerData, signer, certificate, name;
};

// The entries of both DLLs, or the reason one is missing.
DWORD FindEntries(const SystemLibrary& wintrust, const SystemLibrary& crypt32,
                  TrustEntries& entries) {
  const struct {
    const SystemLibrary& library;
    const char* name;
    FARPROC& entry;
  } lookups[] = {
      {wintrust, "WinVerifyTrust", entries.verify},
      {wintrust, "WTHelperProvDataFromStateData", entries.providerData},
      {wintrust, "WTHelperGetProvSignerFromChain", entries.signer},
      {wintrust, "WTHelperGetProvCertFromChain", entries.certificate},
      {crypt32, "CertGetNameStringW", entries.name},
  };
  for (const auto& lookup : lookups) {
    DWORD error = 0;
    lookup.entry = lookup.library.Find(lookup.name, error);
    if (lookup.entry == nullptr) return error;
  }
  return 0;
}

// 0 when the leaf certificate of the first signer is named exactly as Microsoft's, else why not:
// TRUST_E_SUBJECT_NOT_TRUSTED for another name, or the error of a helper that gave no
// certificate (TRUST_E_NO_SIGNER_CERT when it left none).
DWORD SignerRefusal(Platform& os, const TrustEntries& entries, HANDLE state) {
  const auto missing = [&os] { return LastErrorOr(os, TRUST_E_NO_SIGNER_CERT); };
  CRYPT_PROVIDER_DATA* const provider =
      os.WTHelperProvDataFromStateData(entries.providerData, state);
  if (provider == nullptr) return missing();
  CRYPT_PROVIDER_SGNR* const signer =
      os.WTHelperGetProvSignerFromChain(entries.signer, provider, 0, FALSE, 0);
  if (signer == nullptr) return missing();
  const CRYPT_PROVIDER_CERT* const leaf =
      os.WTHelperGetProvCertFromChain(entries.certificate, signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return missing();
  // One character more than the name: a longer name, cut to fit, still differs.
  WCHAR name[kInstallerSigner.size() + 2] = {};
  const DWORD length =
      os.CertGetNameStringW(entries.name, leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                            name, static_cast<DWORD>(std::size(name)));
  // The count includes the terminating NUL; an empty name is a count of 1, and 0 no answer.
  if (length == 0) return missing();
  if (length < 2 || length > std::size(name)) return TRUST_E_SUBJECT_NOT_TRUSTED;
  return std::u16string_view(name, length - 1) == kInstallerSigner ? 0
                                                                   : TRUST_E_SUBJECT_NOT_TRUSTED;
}

}  // namespace

SignedInstaller::SignedInstaller(Platform& os, const std::u16string& path) : os_(os) {
  // No write and no delete sharing: while held, the file cannot be changed, replaced or renamed.
  file_ = os.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    refusal_ = LastErrorOr(os, ERROR_OPEN_FAILED);
    return;
  }
  refusal_ = Verify(path);
  // Signed by Microsoft is not enough: only the one build this launcher exists for.
  if (refusal_ == 0) refusal_ = CheckPinnedDigest(os, file_);
}

SignedInstaller::~SignedInstaller() {
  if (file_ != INVALID_HANDLE_VALUE) os_.CloseHandle(file_);
}

DWORD SignedInstaller::Verify(const std::u16string& path) {
  const SystemLibrary wintrust(os_, u"wintrust.dll");
  if (const DWORD error = wintrust.Error()) return error;
  const SystemLibrary crypt32(os_, u"crypt32.dll");
  if (const DWORD error = crypt32.Error()) return error;
  TrustEntries entries{};
  if (const DWORD error = FindEntries(wintrust, crypt32, entries)) return error;

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  file.hFile = file_;  // the held file is the one checked
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // Never a fetch over the network: a machine without one must not hang here.
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const auto noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);

  // The state that the verify leaves is released on every way out, an error's too.
  struct StateRelease {
    Platform& os;
    FARPROC verify;
    HWND window;
    GUID& action;
    WINTRUST_DATA& data;
    ~StateRelease() {
      data.dwStateAction = WTD_STATEACTION_CLOSE;
      os.WinVerifyTrust(verify, window, &action, &data);
    }
  };
  const LONG answer = os_.WinVerifyTrust(entries.verify, noWindow, &action, &data);
  const StateRelease release{os_, entries.verify, noWindow, action, data};
  if (answer != 0) return static_cast<DWORD>(answer);
  return SignerRefusal(os_, entries, data.hWVTStateData);
}

}  // namespace launcher
