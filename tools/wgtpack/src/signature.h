// The widget signature files (W3C XML Digital Signatures for Widgets), laid out exactly as the
// platform's own signer lays them out.
#pragma once

#include "bytes.h"
#include "credentials.h"

#include <string>
#include <vector>

namespace wgtpack {

enum class Role { Author, Distributor };

struct SignedFile {
  std::string path;  // package-relative, "/" separated, [A-Za-z0-9._-] per segment
  Bytes bytes;       // exactly as stored in the package
};

// "AuthorSignature" / "DistributorSignature".
std::string signatureId(Role role);

// The Object line of a signature (one line, no newline).
std::string propObject(Role role);

// Its Canonical XML 1.1 form: the same line with the XML-DSig default namespace, which the
// Object inherits from Signature, written on it before Id.
std::string propObjectC14n11(Role role);

// Reference URI of a package path: "/" written "%2F".
std::string referenceUri(const std::string& path);

// The whole signature file. `files` are signed in the order given; the caller passes them in
// the package's signing order (author-signature.xml first for the distributor, then ascending paths).
std::string makeSignature(Role role, const std::vector<SignedFile>& files, const Credentials& signer);

}  // namespace wgtpack
