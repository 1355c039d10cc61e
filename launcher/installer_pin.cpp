#include "launcher/installer_pin.h"

#include <vector>

#include "launcher/last_error.h"
#include "launcher/owned.h"

namespace launcher {

using platform::Platform;
using win::BYTE;
using win::DWORD;

const volatile BYTE kPinnedInstallerSha256[kSha256Size] = {
    0xCE, 0x48, 0x43, 0xA9, 0x46, 0xEE, 0x37, 0x32, 0xEB, 0x2B, 0xFC, 0x09, 0x8D, 0xB5, 0x74, 0x1D,
    0xC5, 0x49, 0x5C, 0x7B, 0xEA, 0x20, 0x4E, 0x11, 0xD3, 0x79, 0x33, 0x6D, 0xCC, 0x68, 0xE8, 0x75};

namespace {

// Microsoft's installer is about 13 MB: read in pieces, never whole.
constexpr DWORD kChunkSize = 64 * 1024;

// CryptoAPI gives its failures a last error; NTE_FAIL stands for one that gave none.
DWORD CryptoError(Platform& os) {
  return LastErrorOr(os, win::NTE_FAIL);
}

bool IsPinned(const BYTE (&digest)[kSha256Size]) {
  bool same = true;
  for (std::size_t i = 0; i < kSha256Size; ++i)
    same = same && digest[i] == kPinnedInstallerSha256[i];
  return same;
}

}  // namespace

DWORD CheckPinnedDigest(Platform& os, win::HANDLE file) {
  win::HCRYPTPROV provider = 0;
  if (!os.CryptAcquireContextW(&provider, nullptr, nullptr, win::PROV_RSA_AES,
                               win::CRYPT_VERIFYCONTEXT))
    return CryptoError(os);
  const Owned<handle_kind::HashProvider> ownedProvider(os, provider);
  win::HCRYPTHASH hash = 0;
  if (!os.CryptCreateHash(provider, win::CALG_SHA_256, 0, 0, &hash)) return CryptoError(os);
  const Owned<handle_kind::Hash> ownedHash(os, hash);
  // From the first byte, wherever the signature check left the file's position: the bytes
  // hashed are the bytes held, all of them.
  if (os.SetFilePointer(file, 0, nullptr, win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER)
    return LastErrorOr(os, win::ERROR_READ_FAULT);
  std::vector<BYTE> chunk(kChunkSize);
  for (;;) {
    DWORD read = 0;
    if (!os.ReadFile(file, chunk.data(), kChunkSize, &read, nullptr))
      return LastErrorOr(os, win::ERROR_READ_FAULT);
    if (read == 0) break;  // the end of the file
    if (read > kChunkSize) return win::ERROR_READ_FAULT;
    if (!os.CryptHashData(hash, chunk.data(), read, 0)) return CryptoError(os);
  }
  BYTE digest[kSha256Size] = {};
  DWORD length = kSha256Size;
  if (!os.CryptGetHashParam(hash, win::HP_HASHVAL, digest, &length, 0)) return CryptoError(os);
  if (length != kSha256Size) return win::NTE_FAIL;
  return IsPinned(digest) ? 0 : win::CRYPT_E_HASH_VALUE;
}

}  // namespace launcher
