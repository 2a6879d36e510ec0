// The ZIP reader with the archives a packer writes (deflated, data descriptors) and with
// broken ones.
#include <gtest/gtest.h>

#include "harness.h"
#include "zip.h"

namespace {

TEST(Zip, ReadsStoredAndDeflatedEntries) {
  std::map<std::string, std::string> files = {{"config.xml", "<widget/>"}, {"css/style.css", std::string(5000, 'a')}};
  EXPECT_EQ(tvsim::readZip(harness::storedZip(files)).files, files);
  // The sample as the zip program packs it: deflate, a folder entry.
  auto z = tvsim::readZip(harness::readFile(DEFLATED_WGT));
  EXPECT_EQ(z.files, harness::readTree(TESTDATA_DIR "/wgt"));
}

TEST(Zip, RefusesBrokenArchives) {
  std::string good = harness::storedZip({{"a.txt", "hello"}});
  std::string badCrc = good;
  badCrc[30 + 5] ^= 1;  // first byte of a.txt's data
  std::string escape = harness::storedZip({{"../evil", "x"}});
  std::string twice = good;
  for (const auto& [name, bytes, why] : std::vector<std::tuple<const char*, std::string, const char*>>{
           {"empty", "", "too small"},
           {"no directory", std::string(100, 'x'), "no end of central directory"},
           {"crc", badCrc, "CRC mismatch"},
           {"escape", escape, "unsafe entry name"},
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
