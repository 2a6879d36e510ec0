// Keys, certificates and PKCS#12 files made on the fly for the tests (OpenSSL API).
#pragma once

#include "credentials.h"

#include <string>
#include <vector>

namespace testpki {

wgtpack::PkeyPtr rsaKey(unsigned bits);

struct CertSpec {
  std::string commonName;
  long notBeforeDays = -1;  // relative to now
  long notAfterDays = 365;
  bool ca = false;
};

// Signed by `issuerKey` with `issuer` as issuer name; self-signed when issuer is null.
wgtpack::X509Ptr certificate(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey);

enum class P12Cipher { Modern, Legacy };

// Writes a PKCS#12 file; key may be null (certificates only).
void writePkcs12(const std::string& path, const std::string& password, EVP_PKEY* key, X509* cert,
                 const std::vector<X509*>& cas, P12Cipher cipher = P12Cipher::Modern);

}  // namespace testpki
