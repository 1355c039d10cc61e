#include "launcher/installer_pin.h"

#include <vector>

#include "launcher/last_error.h"

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

// A CryptoAPI handle, released on every way out. CryptoAPI gives its failures a last error;
// NTE_FAIL stands for one that gave none.
class HashProvider {
 public:
  explicit HashProvider(Platform& os) : os_(os) {
    if (!os.CryptAcquireContextW(&provider_, nullptr, nullptr, win::PROV_RSA_AES,
                                 win::CRYPT_VERIFYCONTEXT)) {
      provider_ = 0;
      error_ = LastErrorOr(os, win::NTE_FAIL);
    }
  }
  ~HashProvider() {
    if (provider_ != 0) os_.CryptReleaseContext(provider_, 0);
  }
  HashProvider(const HashProvider&) = delete;
  HashProvider& operator=(const HashProvider&) = delete;
  DWORD Error() const { return error_; }
  win::HCRYPTPROV get() const { return provider_; }

 private:
  Platform& os_;
  win::HCRYPTPROV provider_ = 0;
  DWORD error_ = 0;
};

class Sha256 {
 public:
  Sha256(Platform& os, const HashProvider& provider) : os_(os) {
    if (!os.CryptCreateHash(provider.get(), win::CALG_SHA_256, 0, 0, &hash_)) {
      hash_ = 0;
      error_ = LastErrorOr(os, win::NTE_FAIL);
    }
  }
  ~Sha256() {
    if (hash_ != 0) os_.CryptDestroyHash(hash_);
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  DWORD Error() const { return error_; }

  DWORD Add(const BYTE* data, DWORD length) {
    return os_.CryptHashData(hash_, data, length, 0) ? 0 : LastErrorOr(os_, win::NTE_FAIL);
  }
  // 0 with the digest filled, or the reason there is none.
  DWORD Finish(BYTE (&digest)[kSha256Size]) {
    DWORD length = kSha256Size;
    if (!os_.CryptGetHashParam(hash_, win::HP_HASHVAL, digest, &length, 0))
      return LastErrorOr(os_, win::NTE_FAIL);
    return length == kSha256Size ? 0 : win::NTE_FAIL;
  }

 private:
  Platform& os_;
  win::HCRYPTHASH hash_ = 0;
  DWORD error_ = 0;
};

bool IsPinned(const BYTE (&digest)[kSha256Size]) {
  bool same = true;
  for (std::size_t i = 0; i < kSha256Size; ++i)
    same = same && digest[i] == kPinnedInstallerSha256[i];
  return same;
}

}  // namespace

DWORD CheckPinnedDigest(Platform& os, win::HANDLE file) {
  const HashProvider provider(os);
  if (const DWORD error = provider.Error()) return error;
  Sha256 hash(os, provider);
  if (const DWORD error = hash.Error()) return error;
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
    if (const DWORD error = hash.Add(chunk.data(), read)) return error;
  }
  BYTE digest[kSha256Size] = {};
  if (const DWORD error = hash.Finish(digest)) return error;
  return IsPinned(digest) ? 0 : win::CRYPT_E_HASH_VALUE;
}

}  // namespace launcher
