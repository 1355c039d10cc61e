// The one build of the installer that the launcher elevates, pinned by its SHA-256: a file that
// merely carries Microsoft's signature (another build, another of Microsoft's programs, or a
// certificate named like Microsoft's under a root some administrator trusts) is not started.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace launcher {

inline constexpr std::size_t kSha256Size = 32;

// SHA-256 of Microsoft's VC_redist.x86.exe 14.34.31931. Volatile, so that it stands in the image
// once, as its 32 bytes, and is read from there: the tests' copy of the program replaces them.
extern const volatile win::BYTE kPinnedInstallerSha256[kSha256Size];

// 0 when the file behind the handle, read whole from its first byte, has the pinned digest;
// otherwise the reason: CRYPT_E_HASH_VALUE for another file, else the failing call's error.
win::DWORD CheckPinnedDigest(platform::Platform& os, win::HANDLE file);

}  // namespace launcher
