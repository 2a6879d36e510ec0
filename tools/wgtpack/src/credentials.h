// A signer's key and certificates, read from the PKCS#12 file the platform's certificate tools
// hand out (author.p12, distributor.p12).
#pragma once

#include "bytes.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace wgtpack {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

struct Credentials {
  PkeyPtr key;                 // RSA private key of the signer
  std::vector<X509Ptr> chain;  // signer first, then its issuing CA (and any further
                               // intermediates in the file); never a root above the issuer
};

// Loads and checks one PKCS#12 file. `role` ("author", "distributor") appears in messages.
// Throws Error naming the file and the cause: unreadable, not PKCS#12, wrong password,
// no private key, key and certificate do not match, not RSA, expired or not yet valid,
// issuing CA missing.
Credentials loadPkcs12(const std::string& path, const std::string& password, const std::string& role);

// PKCS#1 v1.5 RSA signature with SHA-256 of `data`.
Bytes signRsaSha256(EVP_PKEY* key, std::span<const std::uint8_t> data);

// DER encoding of a certificate.
Bytes certificateDer(X509* cert);

}  // namespace wgtpack
