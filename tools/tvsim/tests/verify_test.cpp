// tvsim's package check against a package signed by the platform's own tool, and against the
// ways a package can be wrong, each with the code a TV reports.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"
#include "verify.h"

namespace {

const std::string kSample = TESTDATA_DIR "/wgt";
const std::string kAppId = "N75lVtaOnD.TestApp";

std::time_t at(int year) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 1;
  return timegm(&tm);
}

// The sample with trust anchors and a time under which it verifies; each test spoils one thing.
struct Sample {
  std::map<std::string, std::string> files = harness::readTree(kSample);
  std::string authorCa = harness::issuerPem(files.at("author-signature.xml"));
  std::string distributorCa = harness::issuerPem(files.at("signature1.xml"));
  tvsim::TrustStore trust{{authorCa}, {distributorCa}, at(2018)};

  tvsim::PackageCheck check(const std::string& id = kAppId) {
    return tvsim::checkPackage(harness::storedZip(files), id, trust);
  }
};

class PackageCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tvsim::initVerifier(); }
  Sample sample;
};

TEST_F(PackageCheck, ThePlatformSignedSampleIsAccepted) {
  auto r = sample.check();
  EXPECT_EQ(r.code, 0) << r.reason;
  EXPECT_EQ(r.appName, "TestApp");
  EXPECT_EQ(r.authorFingerprint.size(), 64u);
}

TEST_F(PackageCheck, EachFaultGetsTheTvsCode) {
  struct Case {
    const char* name;
    std::function<void(Sample&)> spoil;
    int code;
  };
  const std::vector<Case> cases = {
      {"changed after signing", [](Sample& t) { t.files = harness::readTree(TESTDATA_DIR "/wgt_negative_hash"); }, -4},
      {"a signed file changed", [](Sample& t) { t.files["index.html"] += " "; }, -4},
      {"an unsigned file added", [](Sample& t) { t.files["extra.js"] = "x"; }, -5},
      {"no distributor signature", [](Sample& t) { t.files.erase("signature1.xml"); }, -1},
      {"no author signature", [](Sample& t) { t.files.erase("author-signature.xml"); }, -1},
      {"roles swapped", [](Sample& t) { std::swap(t.files["author-signature.xml"], t.files["signature1.xml"]); }, -1},
      {"author CA not trusted",
       [](Sample& t) {
         t.trust = {{t.distributorCa}, {t.distributorCa}, at(2018)};
       },
       -3},
      {"distributor CA not trusted",
       [](Sample& t) {
         t.trust = {{t.authorCa}, {t.authorCa}, at(2018)};
       },
       -3},
      {"expired", [](Sample& t) { t.trust.at = at(2026); }, -6},
      {"not yet valid", [](Sample& t) { t.trust.at = at(2011); }, -7},
      {"certificate garbled",
       [](Sample& t) {
         auto& s = t.files["signature1.xml"];
         s.replace(s.find("<X509Certificate>") + 17, 8, "!!!!!!!!");
       },
       -2},
  };
  for (const auto& c : cases) {
    Sample fresh;
    c.spoil(fresh);
    auto r = fresh.check();
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.reason, tvsim::certificateMessage(c.code)) << c.name;
  }
}

TEST_F(PackageCheck, APackageForAnotherIdOrNoPackageAtAll) {
  auto r = sample.check("Kx7RmVq2Tz.Velmora");
  EXPECT_EQ(r.code, 118);
  EXPECT_EQ(r.reason, "config.xml names the application 'N75lVtaOnD.TestApp', not 'Kx7RmVq2Tz.Velmora'");
  r = tvsim::checkPackage("PK not a zip", kAppId, sample.trust);
  EXPECT_EQ(r.code, 118);
  EXPECT_EQ(r.reason.rfind("package is not a readable ZIP", 0), 0u) << r.reason;
}

TEST_F(PackageCheck, ReferencesOutsideThePackageAreNeverRead) {
  auto& sig = sample.files["author-signature.xml"];
  sig.replace(sig.find("URI=\"config.xml\""), 16, "URI=\"/etc/hostname\"");
  EXPECT_EQ(sample.check().code, -4);
}

}  // namespace
