// The installer beside the launcher is started with administrator rights, so only Microsoft's
// own may be: its Authenticode signature is checked, and the file is held so that it cannot be
// swapped between the check and the start.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// The simple display name of the leaf certificate that must have signed the installer.
inline constexpr std::u16string_view kInstallerSigner = u"Microsoft Corporation";

class SignedInstaller {
 public:
  // Opens the file at path, shared for reading only, and verifies its signature. The file stays
  // open until this object ends: start it while the object lives.
  SignedInstaller(platform::Platform& os, const std::u16string& path);
  ~SignedInstaller();
  SignedInstaller(const SignedInstaller&) = delete;
  SignedInstaller& operator=(const SignedInstaller&) = delete;

  // 0 when the file may be started; otherwise the number of the reason it may not: the error of
  // the open, of a DLL load or lookup, WinVerifyTrust's answer, or TRUST_E_SUBJECT_NOT_TRUSTED
  // for another signer.
  win::DWORD Refusal() const { return refusal_; }

 private:
  win::DWORD Verify(const std::u16string& path);

  platform::Platform& os_;
  win::HANDLE file_;
  win::DWORD refusal_ = 0;
};

}  // namespace launcher
