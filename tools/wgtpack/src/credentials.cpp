#include "credentials.h"

#include "error.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <ctime>

namespace wgtpack {
namespace {

struct P12Free {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};

// PKCS#12 files from the platform's certificate tools use the old PBE-SHA1-RC2/3DES schemes,
// which OpenSSL 3 keeps in its "legacy" provider. Load it (and the default one beside it) once;
// if it is missing, such files fail later with OpenSSL's own "unsupported" message.
void loadProvidersOnce() {
  static const bool loaded = [] {
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
    ERR_clear_error();
    return true;
  }();
  (void)loaded;
}

std::string subjectOf(X509* cert) {
  char buf[512];
  X509_NAME_oneline(X509_get_subject_name(cert), buf, sizeof buf);
  return buf;
}

std::string timeText(const ASN1_TIME* t) {
  std::tm tm{};
  if (ASN1_TIME_to_tm(t, &tm) != 1) return "(unreadable time)";
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

bool selfSigned(X509* cert) { return X509_self_signed(cert, 0) == 1; }

}  // namespace

Credentials loadPkcs12(const std::string& path, const std::string& password, const std::string& role) {
  loadProvidersOnce();
  const std::string file = role + " PKCS#12 file '" + path + "'";
  const Bytes raw = readFile(path, role + " PKCS#12 file");

  const unsigned char* p = raw.data();
  std::unique_ptr<PKCS12, P12Free> p12(d2i_PKCS12(nullptr, &p, static_cast<long>(raw.size())));
  if (!p12) throw Error(file + " is not a PKCS#12 file (" + opensslError() + ")");

  // An empty password may have been encoded as "no password" or as an empty string.
  const char* pass = password.c_str();
  if (PKCS12_mac_present(p12.get())) {
    if (PKCS12_verify_mac(p12.get(), pass, -1) != 1) {
      if (password.empty() && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1) {
        pass = nullptr;
      } else {
        ERR_clear_error();
        throw Error("wrong password for " + file + " (the integrity check failed)");
      }
    }
  }

  EVP_PKEY* rawKey = nullptr;
  X509* rawCert = nullptr;
  STACK_OF(X509)* rawCas = nullptr;
  if (PKCS12_parse(p12.get(), pass, &rawKey, &rawCert, &rawCas) != 1)
    throw Error("cannot decrypt " + file + ": " + opensslError());
  PkeyPtr key(rawKey);
  X509Ptr cert(rawCert);
  std::vector<X509Ptr> cas;
  for (int i = 0; rawCas && i < sk_X509_num(rawCas); ++i) cas.emplace_back(sk_X509_value(rawCas, i));
  sk_X509_free(rawCas);

  if (!key) throw Error(file + " holds no private key (a certificate alone cannot sign)");
  if (!cert) throw Error(file + " holds no certificate for its private key");
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    ERR_clear_error();
    throw Error(file + ": the private key does not belong to the certificate '" + subjectOf(cert.get()) + "'");
  }
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
    throw Error(file + ": the key is not an RSA key (widget signatures use RSA-SHA256)");

  const std::string who = "the " + role + " certificate '" + subjectOf(cert.get()) + "' in " + file;
  if (X509_cmp_current_time(X509_get0_notAfter(cert.get())) <= 0)
    throw Error(who + " expired on " + timeText(X509_get0_notAfter(cert.get())));
  if (X509_cmp_current_time(X509_get0_notBefore(cert.get())) >= 0)
    throw Error(who + " is not valid before " + timeText(X509_get0_notBefore(cert.get())));
  if (selfSigned(cert.get())) throw Error(who + " is self-signed; a signature needs a certificate issued by a CA");

  // The signature carries the signer, then its issuer, then any further
  // intermediates the file holds, but not the root above them (the device has it).
  Credentials c;
  c.key = std::move(key);
  c.chain.push_back(std::move(cert));
  for (;;) {
    X509* current = c.chain.back().get();
    auto it = cas.begin();
    for (; it != cas.end(); ++it)
      if (*it && X509_check_issued(it->get(), current) == X509_V_OK) break;
    if (it == cas.end()) {
      if (c.chain.size() == 1)
        throw Error(file + " holds no certificate of the CA that issued '" + subjectOf(current) +
                    "' (the signature must carry the signer's certificate and its issuer's)");
      break;
    }
    if (c.chain.size() >= 2 && selfSigned(it->get())) break;
    c.chain.push_back(std::move(*it));
    cas.erase(it);
    if (selfSigned(c.chain.back().get())) break;
  }
  return c;
}

Bytes signRsaSha256(EVP_PKEY* key, std::span<const std::uint8_t> data) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  EVP_PKEY_CTX* pctx = nullptr;
  if (!ctx || EVP_DigestSignInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) != 1)
    throw Error("cannot start an RSA-SHA256 signature: " + opensslError());
  std::size_t len = 0;
  if (EVP_DigestSign(ctx.get(), nullptr, &len, data.data(), data.size()) != 1)
    throw Error("RSA-SHA256 signing failed: " + opensslError());
  Bytes sig(len);
  if (EVP_DigestSign(ctx.get(), sig.data(), &len, data.data(), data.size()) != 1)
    throw Error("RSA-SHA256 signing failed: " + opensslError());
  sig.resize(len);
  return sig;
}

Bytes certificateDer(X509* cert) {
  unsigned char* der = nullptr;
  const int len = i2d_X509(cert, &der);
  if (len <= 0) throw Error("cannot encode certificate '" + subjectOf(cert) + "': " + opensslError());
  Bytes out(der, der + len);
  OPENSSL_free(der);
  return out;
}

}  // namespace wgtpack
