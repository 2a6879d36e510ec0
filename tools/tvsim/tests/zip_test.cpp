// The ZIP reader with the archives a packer writes (deflated, data descriptors) and with
// broken ones.
#include <gtest/gtest.h>

#include "harness.h"
#include "zip.h"

namespace {

TEST(Zip, ReadsStoredAndDeflatedEntries) {
  std::map<std::string, std::string> files = {{"config.xml", "<widget/>"}, {"css/style.css", std::string(5000, 'a')}};
  EXPECT_EQ(tvsim::readZip(harness::storedZip(files)).files, files);
  // The sample as the zip program packs it: deflate, data descriptors, folder entries.
  std::string sample = harness::readFile(DEFLATED_WGT);
  ASSERT_NE(sample.find("PK\x07\x08"), std::string::npos) << "the sample has no data descriptor";
  EXPECT_EQ(tvsim::readZip(sample).files, harness::readTree(TESTDATA_DIR "/wgt"));
}

TEST(Zip, RefusesBrokenArchives) {
  std::string good = harness::storedZip({{"a.txt", "hello"}});
  std::string badCrc = good;
  badCrc[30 + 5] ^= 1;  // first byte of a.txt's data
  std::string escape = harness::storedZip({{"../evil", "x"}});
  // Two entries of the same name, one of them hidden behind the other once unpacked.
  std::string twice = harness::storedZip({{"a.txt", "hello"}, {"b.txt", "other"}});
  for (std::size_t at; (at = twice.find("b.txt")) != std::string::npos;) twice.replace(at, 5, "a.txt");
  for (const auto& [name, bytes, why] : std::vector<std::tuple<const char*, std::string, const char*>>{
           {"empty", "", "too small"},
           {"no directory", std::string(100, 'x'), "no end of central directory"},
           {"crc", badCrc, "CRC mismatch"},
           {"escape", escape, "unsafe entry name"},
           {"duplicate", twice, "duplicate entry a.txt"},
           {"truncated", good.substr(0, good.size() - 30), "no end of central directory"}}) {
    try {
      tvsim::readZip(bytes);
      ADD_FAILURE() << name;
    } catch (const tvsim::ZipError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << name << ": " << e.what();
    }
  }
}

}  // namespace
