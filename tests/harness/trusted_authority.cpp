#include "tests/harness/trusted_authority.h"

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <sstream>

namespace harness {

bool TrustedAuthority::Add(const std::string& pemFile) {
  std::ifstream file(pemFile, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string pem = text.str();
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
    return false;
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]), &size,
                            nullptr, nullptr))
    return false;
  const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return false;
  const CERT_CONTEXT* added = nullptr;
  const bool ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                   size, CERT_STORE_ADD_REPLACE_EXISTING, &added) != FALSE;
  if (added) {
    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    if (CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
      char hex[3];
      for (DWORD i = 0; i < hashSize; ++i) {
        wsprintfA(hex, "%02X", hash[i]);
        key_ += hex;
      }
    }
    CertFreeCertificateContext(added);
  }
  CertCloseStore(store, 0);
  return ok && !key_.empty();
}

void TrustedAuthority::Remove() {
  if (!key_.empty()) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + key_).c_str());
  }
  key_.clear();
}

}  // namespace harness
