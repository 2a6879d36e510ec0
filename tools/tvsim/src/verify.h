// The TV's package check: the package's identity, both widget signatures against the TV's
// trust store (chain and validity through OpenSSL, signature and digests through libxmlsec1),
// every file referenced, the distributor signature covering the author signature.
#pragma once

#include <openssl/types.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tvsim {

// The TV's trust anchors per role, parsed once and shared by every package check: parsing
// certificates costs far more than checking a package against them.
struct TrustStore {
  TrustStore() : TrustStore({}, {}) {}  // trusts nothing
  // PEM texts, each may hold several certificates.
  TrustStore(const std::vector<std::string>& authorCaPem, const std::vector<std::string>& distributorCaPem,
             std::optional<std::time_t> at = {});
  std::shared_ptr<X509_STORE> author, distributor;
  std::optional<std::time_t> at;  // verification time; now when empty
};

struct PackageCheck {
  // 0 when the package may be installed; -1 .. -7 the certificate service's codes; 118 for a
  // package that is not installable at all (unreadable ZIP, wrong id).
  int code = 0;
  std::string reason;
  std::string appName;
  std::string authorFingerprint;  // SHA-256 of the author's certificate, hex
};

// Starts libxmlsec1 and its key manager once per process.
void initVerifier();
PackageCheck checkPackage(const std::string& zipBytes, const std::string& appId, const TrustStore& trust);
// The reason text the TV prints for a certificate service code.
std::string certificateMessage(int code);

}  // namespace tvsim
