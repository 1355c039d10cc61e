// The installer beside the launcher is started with administrator rights, so only Microsoft's
// own build of it may be: its Authenticode signature and its SHA-256 are checked, and the file is
// held so that it cannot be swapped between the check and the start.
#pragma once

#include <string>
#include <string_view>

#include "launcher/owned.h"
#include "platform/platform.h"

namespace launcher {

// The simple display name of the leaf certificate that must have signed the installer.
inline constexpr std::u16string_view kInstallerSigner = u"Microsoft Corporation";

class SignedInstaller {
 public:
  // Opens the file at path, shared for reading only, verifies its signature, then its digest.
  // The file stays open until this object ends: start it while the object lives.
  SignedInstaller(platform::Platform& os, const std::u16string& path);
  SignedInstaller(const SignedInstaller&) = delete;
  SignedInstaller& operator=(const SignedInstaller&) = delete;

  // 0 when the file may be started; otherwise the number of the reason it may not: the error of
  // the open, of a DLL load or lookup, WinVerifyTrust's answer, TRUST_E_SUBJECT_NOT_TRUSTED for
  // another signer, CRYPT_E_HASH_VALUE for another file than the pinned build, or the error of
  // the call that failed on the way.
  win::DWORD Refusal() const { return refusal_; }

 private:
  win::DWORD Verify(const std::u16string& path);

  platform::Platform& os_;
  Owned<handle_kind::File> file_;
  win::DWORD refusal_ = 0;
};

}  // namespace launcher
