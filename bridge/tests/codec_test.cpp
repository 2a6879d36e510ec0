// The wire codec byte for byte, and its strictness towards what comes from the network.
#include <gtest/gtest.h>

#include <vector>

#include "chunked_stream.h"
#include "codec.h"
#include "wire.h"

namespace {

using namespace std::string_literals;

const auto kSoon = wire::Clock::now() + std::chrono::seconds(5);

TEST(Codec, EncodesTheHostHandshakeByteForByte) {
  std::string p =
      wire::encodePacket(wire::kCnxn, wire::kHostVersion, wire::kHostMaxPayload, std::string("host::\0", 7));
  std::string expected = "CNXN"s                // command 0x4e584e43, little-endian
                         + "\x00\x00\x10\x00"s  // arg0: version 0x00100000
                         + "\x00\x00\x04\x00"s  // arg1: max payload 262144
                         + "\x07\x00\x00\x00"s  // data_length 7
                         + "\x32\x02\x00\x00"s  // data_check: byte sum of "host::\0" = 0x232
                         + "\xbc\xb1\xa7\xb1"s  // magic: command ^ 0xffffffff
                         + "host::\0"s;
  EXPECT_EQ(p, expected);
}

TEST(Codec, ReadsTheSameStreamInEveryChunkSize) {
  std::string stream = wire::encodePacket(wire::kOkay, 7, 1, {}) +
                       wire::encodePacket(wire::kWrte, 7, 1, "app_id[x] install completed\r\n") +
                       wire::encodePacket(wire::kStat, 1, 0, {}) + wire::encodePacket(wire::kClse, 7, 1, {});
  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    ChunkedStream s(stream, chunk);
    std::vector<std::uint32_t> commands;
    while (auto p = wire::readPacket(s, 4096, kSoon)) commands.push_back(p->command);
    ASSERT_EQ(commands, (std::vector<std::uint32_t>{wire::kOkay, wire::kWrte, wire::kStat, wire::kClse}))
        << "chunk size " << chunk;
  }
}

TEST(Codec, RejectsMalformedPackets) {
  std::string good = wire::encodePacket(wire::kWrte, 1, 2, "hello");
  struct Case {
    const char* name;
    std::string bytes;
    std::uint32_t limit;
    const char* error;
  };
  std::string badMagic = good;
  badMagic[20] ^= 1;
  std::string badSum = good;
  badSum[16] ^= 1;
  std::string zeroSum = good;
  zeroSum.replace(16, 4, 4, '\0');
  std::string unknown = wire::encodePacket(0x48545541 /* AUTH */, 1, 0, "x");
  std::string truncated = good.substr(0, good.size() - 1);
  std::vector<Case> cases = {
      {"magic", badMagic, 4096, "bad packet magic"},
      {"checksum", badSum, 4096, "bad payload checksum"},
      {"zero checksum", zeroSum, 4096, "bad payload checksum"},
      {"unknown command", unknown, 4096, "unknown packet command"},
      {"over the limit", good, 4, "exceeds the limit of 4"},
      {"truncated payload", truncated, 4096, "closed after"},
      {"truncated header", good.substr(0, 10), 4096, "closed after 10 of 24 bytes"},
  };
  for (const auto& c : cases) {
    ChunkedStream s(c.bytes, 3);
    try {
      wire::readPacket(s, c.limit, kSoon);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const wire::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.name << ": " << e.what();
    }
  }
}

TEST(Codec, PayloadSumIsTheByteSumForEveryLengthAndAlignment) {
  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(0xff - i % 7);
  for (std::size_t start : {0u, 1u, 5u}) {
    for (std::size_t len : {0u, 1u, 7u, 8u, 9u, 1023u, 1024u, 1025u, 65536u, 69990u}) {
      std::uint32_t expected = 0;
      for (std::size_t i = start; i < start + len; ++i) expected += static_cast<unsigned char>(bytes[i]);
      EXPECT_EQ(wire::payloadSum(std::string_view(bytes).substr(start, len)), expected) << start << "+" << len;
    }
  }
}

TEST(Codec, HexLengthsAreExactlyFourDigits) {
  EXPECT_EQ(wire::parseHex4("000c"), 12u);
  EXPECT_EQ(wire::parseHex4("FFFF"), 0xffffu);
  for (const char* bad : {"", "00c", "0000c", "00 c", "-00c", "0x0c", "00g0"})
    EXPECT_FALSE(wire::parseHex4(bad)) << bad;
  EXPECT_EQ(wire::encodeRequest("host:version"), "000chost:version");
  EXPECT_EQ(wire::encodeRequest(std::string(2048, 'a')).substr(0, 4), "0800");
  // Past the limit the length would no longer be what the server accepts (from 64 KiB not
  // even four digits): refused where the request is made.
  for (std::size_t size : {2049u, 65536u})
    EXPECT_THROW(wire::encodeRequest(std::string(size, 'a')), wire::Error) << size;
}

TEST(Codec, FramedTextRefusesLengthsOverTheLimit) {
  ChunkedStream s("0801" + std::string(0x801, 'a'), 64);
  EXPECT_THROW(wire::readFramedText(s, kSoon), wire::Error);
}

TEST(Codec, ParsesRequestsStrictly) {
  EXPECT_EQ(wire::parseRequest("host:connect:192.168.1.66:26101").arg, "192.168.1.66:26101");
  EXPECT_EQ(wire::parseRequest("shell:0 applist").arg, "0 applist");
  EXPECT_EQ(wire::parseRequest("host:kill").kind, wire::RequestKind::Kill);
  EXPECT_EQ(wire::parseRequest("push:/opt/usr/apps/tmp/a.wgt").arg, "/opt/usr/apps/tmp/a.wgt");
  for (const std::string& bad : std::vector<std::string>{
           "host:connect:1.2.3.4&echo X:26101", "host:connect:1.2.3:26101", "host:connect:256.1.1.1:26101",
           "host:connect:1.2.3.4:0", "host:connect:1.2.3.4:65536", "host:connect::26101", "shell:", "host:kil",
           "host:version2", "", "push:", "sync:", "push:" + std::string(1025, 'a'), std::string("push:/a\0b", 9)})
    EXPECT_THROW(wire::parseRequest(bad), wire::Error) << bad;
}

TEST(Codec, ParsesTheDeviceBanner) {
  auto b = wire::parseDeviceBanner(std::string("device::UE43RU7400UXRU::1\0", 26));
  EXPECT_EQ(b.model, "UE43RU7400UXRU");
  EXPECT_TRUE(b.locked);
  EXPECT_EQ(wire::parseDeviceBanner("device::QE55Q80T").model, "QE55Q80T");
  EXPECT_THROW(wire::parseDeviceBanner("host::"), wire::Error);
  EXPECT_THROW(wire::parseDeviceBanner("device::a\nb::0"), wire::Error);
}

}  // namespace
