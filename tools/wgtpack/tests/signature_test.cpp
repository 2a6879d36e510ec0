// Fixed parts of the signature text.
#include "bytes.h"
#include "error.h"
#include "signature.h"

#include <gtest/gtest.h>

using wgtpack::Role;

TEST(Signature, PropDigestsAreThePublishedConstants) {
  // The #prop digests never vary: the signed Object text is fixed.
  EXPECT_EQ(wgtpack::base64(wgtpack::sha256(wgtpack::toBytes(wgtpack::propObjectC14n11(Role::Author)))),
            "lpo8tUDs054eLlBQXiDPVDVKfw30ZZdtkRs1jd7H5K8=");
  EXPECT_EQ(wgtpack::base64(wgtpack::sha256(wgtpack::toBytes(wgtpack::propObjectC14n11(Role::Distributor)))),
            "u/jU3U4Zm5ihTMSjKGlGYbWzDfRkGphPPHx3gJIYEJ4=");
}

TEST(Signature, ObjectLineAsThePlatformWritesIt) {
  EXPECT_EQ(wgtpack::propObject(Role::Author),
            "<Object Id=\"prop\"><SignatureProperties xmlns:dsp=\"http://www.w3.org/2009/xmldsig-properties\">"
            "<SignatureProperty Id=\"profile\" Target=\"#AuthorSignature\"><dsp:Profile "
            "URI=\"http://www.w3.org/ns/widgets-digsig#profile\"></dsp:Profile></SignatureProperty>"
            "<SignatureProperty Id=\"role\" Target=\"#AuthorSignature\"><dsp:Role "
            "URI=\"http://www.w3.org/ns/widgets-digsig#role-author\"></dsp:Role></SignatureProperty>"
            "<SignatureProperty Id=\"identifier\" Target=\"#AuthorSignature\"><dsp:Identifier></dsp:Identifier>"
            "</SignatureProperty></SignatureProperties></Object>");
}

TEST(Signature, ReferenceUris) {
  EXPECT_EQ(wgtpack::referenceUri("config.xml"), "config.xml");
  EXPECT_EQ(wgtpack::referenceUri("css/style.css"), "css%2Fstyle.css");
  EXPECT_EQ(wgtpack::referenceUri("a/b/c-d_e.f"), "a%2Fb%2Fc-d_e.f");
  for (const char* bad : {"a b", "a%2Fb", "a&b", "\xc3\xa9.js", "a\"b"})
    EXPECT_THROW(wgtpack::referenceUri(bad), wgtpack::Error) << bad;
}

TEST(Signature, Base64WrappedAt76) {
  EXPECT_EQ(wgtpack::base64Wrapped76(wgtpack::Bytes(57, 0)), std::string(76, 'A'));
  EXPECT_EQ(wgtpack::base64Wrapped76(wgtpack::Bytes(58, 0)), std::string(76, 'A') + "\nAA==");
  EXPECT_EQ(wgtpack::base64Wrapped76(wgtpack::Bytes(114, 0)), std::string(76, 'A') + "\n" + std::string(76, 'A'));
}
