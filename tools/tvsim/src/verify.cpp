#include "verify.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/io.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "zip.h"

namespace tvsim {

namespace {

constexpr char kDsigNs[] = "http://www.w3.org/2000/09/xmldsig#";
constexpr char kPropsNs[] = "http://www.w3.org/2009/xmldsig-properties";
constexpr char kWidgetNs[] = "http://www.w3.org/ns/widgets";
constexpr char kTizenNs[] = "http://tizen.org/ns/widgets";
constexpr char kProfileUri[] = "http://www.w3.org/ns/widgets-digsig#profile";
constexpr char kAuthorRole[] = "http://www.w3.org/ns/widgets-digsig#role-author";
constexpr char kDistributorRole[] = "http://www.w3.org/ns/widgets-digsig#role-distributor";

struct Failed {
  int code;
  std::string reason;
};

using Doc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Doc parseXml(const std::string& text) {
  return Doc(xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
             &xmlFreeDoc);
}

bool is(xmlNode* n, const char* name, const char* ns) {
  return n && n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST name) && n->ns &&
         xmlStrEqual(n->ns->href, BAD_CAST ns);
}

std::string attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, BAD_CAST name);
  std::string s = v ? reinterpret_cast<char*>(v) : "";
  xmlFree(v);
  return s;
}

std::string text(xmlNode* n) {
  xmlChar* v = xmlNodeGetContent(n);
  std::string s = v ? reinterpret_cast<char*>(v) : "";
  xmlFree(v);
  return s;
}

void collect(xmlNode* n, const char* name, const char* ns, std::vector<xmlNode*>& out) {
  for (; n; n = n->next) {
    if (is(n, name, ns)) out.push_back(n);
    collect(n->children, name, ns, out);
  }
}

std::vector<xmlNode*> all(xmlDoc* d, const char* name, const char* ns) {
  std::vector<xmlNode*> out;
  collect(xmlDocGetRootElement(d), name, ns, out);
  return out;
}

std::string decodeBase64(const std::string& in) {
  std::string clean;
  for (char c : in)
    if (!std::isspace(static_cast<unsigned char>(c))) clean.push_back(c);
  std::string out(clean.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(clean.data()), int(clean.size()));
  if (n < 0 || clean.size() % 4 != 0) return {};
  std::size_t pad = clean.size() >= 2 ? (clean.end()[-1] == '=') + (clean.end()[-2] == '=') : 0;
  out.resize(std::size_t(n) - pad);
  return out;
}

std::shared_ptr<X509_STORE> parseAnchors(const std::vector<std::string>& pems) {
  std::shared_ptr<X509_STORE> store(X509_STORE_new(), &X509_STORE_free);
  if (!store) throw std::runtime_error("out of memory for the trust store");
  for (const auto& pem : pems) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), int(pem.size())), &BIO_free);
    while (X509* c = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
      X509_STORE_add_cert(store.get(), c);
      X509_free(c);
    }
  }
  return store;
}

std::string fingerprint(X509* c) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  X509_digest(c, EVP_sha256(), md, &len);
  std::string hex;
  char b[3];
  for (unsigned i = 0; i < len; ++i) std::snprintf(b, sizeof b, "%02x", md[i]), hex += b;
  return hex;
}

// "%2F" and friends back to bytes; nullopt for a malformed escape.
std::optional<std::string> percentDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out.push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      return std::nullopt;
    out.push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

// A Reference URI that names a file of the package: relative, no scheme, no way out.
std::optional<std::string> packagePath(const std::string& uri) {
  if (uri.empty() || uri[0] == '/' || uri.find(':') != std::string::npos || uri.find('#') != std::string::npos ||
      uri.find('?') != std::string::npos)
    return std::nullopt;
  auto path = percentDecode(uri);
  if (!path || path->find("..") != std::string::npos || path->find('\\') != std::string::npos) return std::nullopt;
  return path;
}

// --- libxmlsec1 reads Reference files through these, from the package in memory only ---
std::mutex verifyMutex;
const std::map<std::string, std::string>* currentFiles = nullptr;
// Made once: its default set-up parses the system's certificate bundle, which costs more than a
// whole package check. The bundle plays no part in the check: libxmlsec1 is told not to verify
// certificates, that was done against the TV's own anchors.
xmlSecKeysMngr* keysManager = nullptr;

struct OpenEntry {
  const std::string* data;
  std::size_t pos;
};

int ioMatch(const char* uri) {
  auto path = packagePath(uri ? uri : "");
  return path && currentFiles && currentFiles->count(*path) ? 1 : 0;
}

void* ioOpen(const char* uri) {
  auto path = packagePath(uri);
  return new OpenEntry{&currentFiles->at(*path), 0};
}

int ioRead(void* ctx, char* buf, int len) {
  auto* e = static_cast<OpenEntry*>(ctx);
  std::size_t n = std::min<std::size_t>(std::size_t(len), e->data->size() - e->pos);
  std::memcpy(buf, e->data->data() + e->pos, n);
  e->pos += n;
  return int(n);
}

int ioClose(void* ctx) {
  delete static_cast<OpenEntry*>(ctx);
  return 0;
}

bool xmlsecVerify(xmlDoc* doc, const std::map<std::string, std::string>& files) {
  std::lock_guard<std::mutex> lock(verifyMutex);
  currentFiles = &files;
  static const xmlChar* ids[] = {BAD_CAST "Id", nullptr};
  xmlSecAddIDs(doc, xmlDocGetRootElement(doc), ids);
  std::unique_ptr<xmlSecDSigCtx, decltype(&xmlSecDSigCtxDestroy)> ctx(xmlSecDSigCtxCreate(keysManager),
                                                                      &xmlSecDSigCtxDestroy);
  if (!ctx) return false;
  // The chain and the validity dates were checked before, with the TV's own error codes.
  ctx->keyInfoReadCtx.flags |= XMLSEC_KEYINFO_FLAGS_X509DATA_DONT_VERIFY_CERTS;
  // Relative file names count as "remote" to libxmlsec1; only the package's own entries can be
  // read through the callbacks registered in initVerifier.
  ctx->enabledReferenceUris = xmlSecTransformUriTypeAny;
  bool ok = xmlSecDSigCtxVerify(ctx.get(), xmlDocGetRootElement(doc)) == 0 && ctx->status == xmlSecDSigStatusSucceeded;
  currentFiles = nullptr;
  return ok;
}

int chainCode(int err) {
  switch (err) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return -6;
    case X509_V_ERR_CERT_NOT_YET_VALID: return -7;
    default: return -3;
  }
}

bool isSignatureFile(const std::string& name) {
  if (name == "author-signature.xml") return true;
  if (name.size() < 14 || name.rfind("signature", 0) != 0 || name.find('/') != std::string::npos) return false;
  std::string digits = name.substr(9, name.size() - 9 - 4);
  return name.substr(name.size() - 4) == ".xml" && !digits.empty() &&
         digits.find_first_not_of("0123456789") == std::string::npos && digits[0] != '0';
}

// Checks one signature file in the TV's order; returns the author fingerprint for the author.
std::string checkSignature(const std::string& file, bool author, const ZipContents& z, X509_STORE* anchors,
                           std::optional<std::time_t> at) {
  Doc doc = parseXml(z.files.at(file));
  xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  const char* role = author ? kAuthorRole : kDistributorRole;
  if (!is(root, "Signature", kDsigNs) || attr(root, "Id") != (author ? "AuthorSignature" : "DistributorSignature"))
    throw Failed{-1, ""};
  bool roleOk = false, profileOk = false;
  for (xmlNode* r : all(doc.get(), "Role", kPropsNs)) roleOk |= attr(r, "URI") == role;
  for (xmlNode* p : all(doc.get(), "Profile", kPropsNs)) profileOk |= attr(p, "URI") == kProfileUri;
  if (!roleOk || !profileOk) throw Failed{-1, ""};

  std::vector<Cert> certs;
  for (xmlNode* c : all(doc.get(), "X509Certificate", kDsigNs)) {
    std::string der = decodeBase64(text(c));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* x = der.empty() ? nullptr : d2i_X509(nullptr, &p, long(der.size()));
    if (!x) throw Failed{-2, ""};
    certs.emplace_back(x, &X509_free);
  }
  if (certs.empty()) throw Failed{-2, ""};

  std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(sk_X509_new_null(),
                                                                       [](STACK_OF(X509) * s) { sk_X509_free(s); });
  for (std::size_t i = 1; i < certs.size(); ++i) sk_X509_push(untrusted.get(), certs[i].get());
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> vctx(X509_STORE_CTX_new(), &X509_STORE_CTX_free);
  X509_STORE_CTX_init(vctx.get(), anchors, certs[0].get(), untrusted.get());
  // The TV's store holds the issuing CAs themselves; they need not be roots.
  X509_STORE_CTX_set_flags(vctx.get(), X509_V_FLAG_PARTIAL_CHAIN);
  if (at) X509_STORE_CTX_set_time(vctx.get(), 0, *at);
  if (X509_verify_cert(vctx.get()) != 1) throw Failed{chainCode(X509_STORE_CTX_get_error(vctx.get())), ""};

  std::set<std::string> referenced;
  bool prop = false;
  for (xmlNode* ref : all(doc.get(), "Reference", kDsigNs)) {
    std::string uri = attr(ref, "URI");
    if (uri == "#prop") {
      prop = true;
      continue;
    }
    auto path = packagePath(uri);
    if (!path || !z.files.count(*path)) throw Failed{-4, ""};
    referenced.insert(*path);
  }
  if (!xmlsecVerify(doc.get(), z.files)) throw Failed{-4, ""};

  if (!prop) throw Failed{-5, ""};
  for (const auto& [name, bytes] : z.files) {
    if (isSignatureFile(name) && !(name == "author-signature.xml" && !author)) continue;
    if (!referenced.count(name)) throw Failed{-5, ""};
  }
  return author ? fingerprint(certs[0].get()) : std::string();
}

}  // namespace

void initVerifier() {
  if (keysManager) return;
  xmlInitParser();
  if (xmlSecInit() < 0 || xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0)
    throw std::runtime_error("libxmlsec1 failed to start");
  xmlSecErrorsDefaultCallbackEnableOutput(0);
  // Only the package itself may be read while verifying: no files, no network.
  xmlSecIOCleanupCallbacks();
  xmlSecIORegisterCallbacks(ioMatch, ioOpen, ioRead, ioClose);
  keysManager = xmlSecKeysMngrCreate();
  if (!keysManager || xmlSecCryptoAppDefaultKeysMngrInit(keysManager) < 0)
    throw std::runtime_error("libxmlsec1 has no key manager");
}

TrustStore::TrustStore(const std::vector<std::string>& authorCaPem, const std::vector<std::string>& distributorCaPem,
                       std::optional<std::time_t> at)
    : author(parseAnchors(authorCaPem)), distributor(parseAnchors(distributorCaPem)), at(at) {}

std::string certificateMessage(int code) {
  switch (code) {
    case -1: return "Invalid format of signature file";
    case -2: return "Invalid certificate encoding in signature";
    case -3: return "Invalid certificate chain with certificate in signature.";
    case -4: return "Invalid signature";
    case -5: return "Invalid file reference. An unsigned file was found.";
    case -6: return "Certificate in signature has expired";
    case -7: return "Certificate in signature is not yet valid";
  }
  return "Unknown error";
}

PackageCheck checkPackage(const std::string& zipBytes, const std::string& appId, const TrustStore& trust) {
  PackageCheck r;
  ZipContents z;
  try {
    z = readZip(zipBytes);
  } catch (const ZipError& e) {
    return {118, std::string("package is not a readable ZIP: ") + e.what(), {}, {}};
  }
  auto config = z.files.find("config.xml");
  Doc doc = config == z.files.end() ? Doc(nullptr, &xmlFreeDoc) : parseXml(config->second);
  if (!doc) return {118, "package has no readable config.xml", {}, {}};
  auto apps = all(doc.get(), "application", kTizenNs);
  std::string id = apps.empty() ? "" : attr(apps[0], "id");
  if (id != appId) return {118, "config.xml names the application '" + id + "', not '" + appId + "'", {}, {}};
  for (xmlNode* n : all(doc.get(), "name", kWidgetNs)) {
    r.appName = text(n);
    break;
  }

  std::vector<std::string> distributors;
  for (const auto& [name, bytes] : z.files)
    if (name != "author-signature.xml" && isSignatureFile(name)) distributors.push_back(name);
  try {
    if (!z.files.count("author-signature.xml") || distributors.empty()) throw Failed{-1, ""};
    r.authorFingerprint = checkSignature("author-signature.xml", true, z, trust.author.get(), trust.at);
    for (const auto& d : distributors) checkSignature(d, false, z, trust.distributor.get(), trust.at);
  } catch (const Failed& f) {
    r.code = f.code;
    r.reason = certificateMessage(f.code);
  }
  return r;
}

}  // namespace tvsim
