#include "test_pki.h"

#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace testpki {

wgtpack::PkeyPtr rsaKey(unsigned bits) {
  wgtpack::PkeyPtr key(EVP_RSA_gen(bits));
  if (!key) throw std::runtime_error("RSA key generation failed");
  return key;
}

namespace {

void addExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext || X509_add_ext(cert, ext, -1) != 1) throw std::runtime_error("cannot add a certificate extension");
  X509_EXTENSION_free(ext);
}

}  // namespace

wgtpack::X509Ptr certificate(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  static long serial = 1;
  wgtpack::X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), spec.notBeforeDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), spec.notAfterDays * 86400L);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(spec.commonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  addExt(cert.get(), issuer, NID_basic_constraints, spec.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  addExt(cert.get(), issuer, NID_key_usage, spec.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
    throw std::runtime_error("cannot sign a test certificate");
  return cert;
}

void writePkcs12(const std::string& path, const std::string& password, EVP_PKEY* key, X509* cert,
                 const std::vector<X509*>& cas, P12Cipher cipher) {
  static const bool providers = [] {
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
    return true;
  }();
  (void)providers;
  STACK_OF(X509)* stack = sk_X509_new_null();
  for (X509* c : cas) sk_X509_push(stack, c);
  // Legacy: what older certificate tools write (RC2-40 for certificates, 3DES for the key).
  const int certNid = cipher == P12Cipher::Legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : 0;
  const int keyNid = cipher == P12Cipher::Legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : 0;
  PKCS12* p12 = PKCS12_create(password.c_str(), "test", key, cert, stack, keyNid, certNid, 0, 0, 0);
  sk_X509_free(stack);
  if (!p12) throw std::runtime_error("cannot make a test PKCS#12 file");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || i2d_PKCS12_fp(f, p12) != 1) throw std::runtime_error("cannot write " + path);
  std::fclose(f);
  PKCS12_free(p12);
}

}  // namespace testpki
