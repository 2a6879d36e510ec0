// No XML library builds these files: their text is fixed by the platform's signer, line for
// line, and for that fixed text the canonical forms are known in closed form:
// - Exclusive C14N of SignedInfo is its own text with the inherited default namespace written
//   on the start tag (no attribute or character needs escaping, every end tag is explicit);
// - Canonical XML 1.1 of the Object likewise.
// xmlsec1 checks both independently in the tests.
#include "signature.h"

#include "error.h"

namespace wgtpack {
namespace {

constexpr const char* kDsigNs = "http://www.w3.org/2000/09/xmldsig#";
constexpr const char* kExcC14n = "http://www.w3.org/2001/10/xml-exc-c14n#";
constexpr const char* kC14n11 = "http://www.w3.org/2006/12/xml-c14n11";
constexpr const char* kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr const char* kSha256 = "http://www.w3.org/2001/04/xmlenc#sha256";
constexpr const char* kDspNs = "http://www.w3.org/2009/xmldsig-properties";
constexpr const char* kProfile = "http://www.w3.org/ns/widgets-digsig#profile";
constexpr const char* kRoleAuthor = "http://www.w3.org/ns/widgets-digsig#role-author";
constexpr const char* kRoleDistributor = "http://www.w3.org/ns/widgets-digsig#role-distributor";

bool safePathChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-' || c == '/';
}

std::string reference(const std::string& uri, const std::string& digestB64, bool c14n11Transform) {
  std::string s = "<Reference URI=\"" + uri + "\">\n";
  if (c14n11Transform)
    s += std::string("<Transforms>\n<Transform Algorithm=\"") + kC14n11 + "\"></Transform>\n</Transforms>\n";
  s += std::string("<DigestMethod Algorithm=\"") + kSha256 + "\"></DigestMethod>\n";
  s += "<DigestValue>" + digestB64 + "</DigestValue>\n";
  s += "</Reference>\n";
  return s;
}

std::string propObjectWithOpening(Role role, const std::string& objectOpen) {
  const std::string target = "#" + signatureId(role);
  const char* roleUri = role == Role::Author ? kRoleAuthor : kRoleDistributor;
  return objectOpen + "<SignatureProperties xmlns:dsp=\"" + kDspNs + "\">" +
         "<SignatureProperty Id=\"profile\" Target=\"" + target + "\"><dsp:Profile URI=\"" + kProfile +
         "\"></dsp:Profile></SignatureProperty>" + "<SignatureProperty Id=\"role\" Target=\"" + target +
         "\"><dsp:Role URI=\"" + roleUri + "\"></dsp:Role></SignatureProperty>" +
         "<SignatureProperty Id=\"identifier\" Target=\"" + target +
         "\"><dsp:Identifier></dsp:Identifier></SignatureProperty>" + "</SignatureProperties></Object>";
}

}  // namespace

std::string signatureId(Role role) { return role == Role::Author ? "AuthorSignature" : "DistributorSignature"; }

std::string propObject(Role role) { return propObjectWithOpening(role, "<Object Id=\"prop\">"); }

std::string propObjectC14n11(Role role) {
  return propObjectWithOpening(role, std::string("<Object xmlns=\"") + kDsigNs + "\" Id=\"prop\">");
}

std::string referenceUri(const std::string& path) {
  std::string uri;
  for (char c : path) {
    if (!safePathChar(c)) throw Error("package path '" + path + "' has a character outside [A-Za-z0-9._-/]");
    uri += c == '/' ? std::string("%2F") : std::string(1, c);
  }
  return uri;
}

std::string makeSignature(Role role, const std::vector<SignedFile>& files, const Credentials& signer) {
  // Inner bytes of SignedInfo, exactly as written in the file.
  std::string inner = "\n";
  inner += std::string("<CanonicalizationMethod Algorithm=\"") + kExcC14n + "\"></CanonicalizationMethod>\n";
  inner += std::string("<SignatureMethod Algorithm=\"") + kRsaSha256 + "\"></SignatureMethod>\n";
  for (const SignedFile& f : files) inner += reference(referenceUri(f.path), base64(sha256(f.bytes)), false);
  inner += reference("#prop", base64(sha256(toBytes(propObjectC14n11(role)))), true);

  const std::string canonicalSignedInfo =
      std::string("<SignedInfo xmlns=\"") + kDsigNs + "\">" + inner + "</SignedInfo>";
  const Bytes value = signRsaSha256(signer.key.get(), toBytes(canonicalSignedInfo));

  std::string out = std::string("<Signature xmlns=\"") + kDsigNs + "\" Id=\"" + signatureId(role) + "\">\n";
  out += "<SignedInfo>" + inner + "</SignedInfo>\n";
  out += "<SignatureValue>\n" + base64Wrapped76(value) + "\n</SignatureValue>\n";
  out += "<KeyInfo>\n<X509Data>\n";
  for (const X509Ptr& cert : signer.chain)
    out += "<X509Certificate>\n" + base64Wrapped76(certificateDer(cert.get())) + "\n</X509Certificate>\n";
  out += "</X509Data>\n</KeyInfo>\n";
  out += propObject(role) + "\n";
  out += "</Signature>";  // no final newline, like the platform's signer
  return out;
}

}  // namespace wgtpack
