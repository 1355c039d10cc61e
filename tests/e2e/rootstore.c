// Puts a certificate into the machine's Root store, as an administrator trusts a root:
//   rootstore <certificate.der>
// Prints "trusted <SHA-1 thumbprint in hex>" once the store holds it, or "error <step> <code>".
#include <stdio.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <wincrypt.h>

static int Fail(const char* step) {
  printf("error %s %lu\n", step, GetLastError());
  return 1;
}

int main(int argc, char** argv) {
  static BYTE der[65536];
  if (argc != 2) return Fail("usage");
  FILE* file = fopen(argv[1], "rb");
  if (!file) return Fail("open");
  const DWORD size = (DWORD)fread(der, 1, sizeof der, file);
  fclose(file);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return Fail("store");
  PCCERT_CONTEXT added = NULL;
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, &added))
    return Fail("add");
  CertFreeCertificateContext(added);
  CertCloseStore(store, 0);

  // Read back from a fresh handle: the store, not this process, must hold it.
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return Fail("reopen");
  PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
  PCCERT_CONTEXT found = wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, wanted, NULL)
                                : NULL;
  if (!found) return Fail("find");
  BYTE hash[20];
  DWORD hashSize = sizeof hash;
  if (!CertGetCertificateContextProperty(found, CERT_SHA1_HASH_PROP_ID, hash, &hashSize))
    return Fail("thumbprint");
  printf("trusted ");
  for (DWORD i = 0; i < hashSize; ++i) printf("%02x", hash[i]);
  printf("\n");
  return 0;
}
