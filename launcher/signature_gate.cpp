#include "launcher/signature_gate.h"

#include <string>

#include "launcher/installer_pin.h"
#include "launcher/last_error.h"

namespace launcher {

using platform::Platform;
using win::DWORD;
using win::FARPROC;
using win::HANDLE;
using win::HMODULE;
using win::HWND;
using win::LONG;

namespace {

using OwnedLibrary = Owned<handle_kind::Library>;

// A DLL of the system folder, for the time of the check; null with error set to why it is not
// loaded. Neither wintrust.dll nor crypt32.dll is a known DLL: loaded by name, either would be
// looked for in the launcher's own folder first, which is the folder whose installer is being
// checked.
HMODULE LoadSystemLibrary(Platform& os, std::u16string_view name, DWORD& error) {
  const std::u16string file(name);
  if (const HMODULE module =
          os.LoadLibraryExW(file.c_str(), nullptr, win::LOAD_LIBRARY_SEARCH_SYSTEM32))
    return module;
  error = LastErrorOr(os, win::ERROR_MOD_NOT_FOUND);
  // A Windows that does not know the flag (Vista, 7 without KB2533623): the full path then.
  if (error != static_cast<DWORD>(win::ERROR_INVALID_PARAMETER)) return nullptr;
  std::u16string path(win::MAX_PATH + 1, u'\0');
  const win::UINT length = os.GetSystemDirectoryW(path.data(), static_cast<win::UINT>(path.size()));
  if (length == 0 || length >= path.size()) {
    error = length == 0 ? LastErrorOr(os, win::ERROR_MOD_NOT_FOUND) : win::ERROR_BAD_PATHNAME;
    return nullptr;
  }
  path.resize(length);
  path += u"\\" + file;
  const HMODULE module =
      os.LoadLibraryExW(path.c_str(), nullptr, win::LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) error = LastErrorOr(os, win::ERROR_MOD_NOT_FOUND);
  return module;
}

struct TrustEntries {
  FARPROC verify, providerData, signer, certificate, name;
};

// The entries of both DLLs, or the reason one is missing.
DWORD FindEntries(Platform& os, HMODULE wintrust, HMODULE crypt32, TrustEntries& entries) {
  const struct {
    HMODULE library;
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
    lookup.entry = os.GetProcAddress(lookup.library, lookup.name);
    if (lookup.entry == nullptr) return LastErrorOr(os, win::ERROR_PROC_NOT_FOUND);
  }
  return 0;
}

// 0 when the leaf certificate of the first signer is named exactly as Microsoft's, else why not:
// TRUST_E_SUBJECT_NOT_TRUSTED for another name, or the error of a helper that gave no
// certificate (TRUST_E_NO_SIGNER_CERT when it left none).
DWORD SignerRefusal(Platform& os, const TrustEntries& entries, HANDLE state) {
  const auto missing = [&os] { return LastErrorOr(os, win::TRUST_E_NO_SIGNER_CERT); };
  win::CRYPT_PROVIDER_DATA* const provider =
      os.WTHelperProvDataFromStateData(entries.providerData, state);
  if (provider == nullptr) return missing();
  win::CRYPT_PROVIDER_SGNR* const signer =
      os.WTHelperGetProvSignerFromChain(entries.signer, provider, 0, win::FALSE, 0);
  if (signer == nullptr) return missing();
  const win::CRYPT_PROVIDER_CERT* const leaf =
      os.WTHelperGetProvCertFromChain(entries.certificate, signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return missing();
  // One character more than the name: a longer name, cut to fit, still differs.
  win::WCHAR name[kInstallerSigner.size() + 2] = {};
  const DWORD length =
      os.CertGetNameStringW(entries.name, leaf->pCert, win::CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                            nullptr, name, static_cast<DWORD>(std::size(name)));
  // The count includes the terminating NUL; an empty name is a count of 1, and 0 no answer.
  if (length == 0) return missing();
  if (length < 2 || length > std::size(name)) return win::TRUST_E_SUBJECT_NOT_TRUSTED;
  return std::u16string_view(name, length - 1) == kInstallerSigner
             ? 0
             : win::TRUST_E_SUBJECT_NOT_TRUSTED;
}

}  // namespace

SignedInstaller::SignedInstaller(Platform& os, const std::u16string& path) : os_(os), file_(os) {
  // No write and no delete sharing: while held, the file cannot be changed, replaced or renamed.
  file_.reset(os.CreateFileW(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file_.empty()) {
    refusal_ = LastErrorOr(os, win::ERROR_OPEN_FAILED);
    return;
  }
  refusal_ = Verify(path);
  // Signed by Microsoft is not enough: only the one build this launcher exists for.
  if (refusal_ == 0) refusal_ = CheckPinnedDigest(os, file_.get());
}

DWORD SignedInstaller::Verify(const std::u16string& path) {
  DWORD error = 0;
  const OwnedLibrary wintrust(os_, LoadSystemLibrary(os_, u"wintrust.dll", error));
  if (wintrust.empty()) return error;
  const OwnedLibrary crypt32(os_, LoadSystemLibrary(os_, u"crypt32.dll", error));
  if (crypt32.empty()) return error;
  TrustEntries entries{};
  if (const DWORD missing = FindEntries(os_, wintrust.get(), crypt32.get(), entries))
    return missing;

  win::WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  file.hFile = file_.get();  // the held file is the one checked
  win::WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = win::WTD_UI_NONE;
  data.fdwRevocationChecks = win::WTD_REVOKE_NONE;
  data.dwUnionChoice = win::WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = win::WTD_STATEACTION_VERIFY;
  // Never a fetch over the network: a machine without one must not hang here.
  data.dwProvFlags = win::WTD_CACHE_ONLY_URL_RETRIEVAL;
  win::GUID action = win::WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const auto noWindow = static_cast<HWND>(win::INVALID_HANDLE_VALUE);

  const LONG answer = os_.WinVerifyTrust(entries.verify, noWindow, &action, &data);
  // The state that the verify leaves is released on every way out, an error's too.
  const ScopeExit releaseState([&] {
    data.dwStateAction = win::WTD_STATEACTION_CLOSE;
    os_.WinVerifyTrust(entries.verify, noWindow, &action, &data);
  });
  if (answer != 0) return static_cast<DWORD>(answer);
  return SignerRefusal(os_, entries, data.hWVTStateData);
}

}  // namespace launcher
