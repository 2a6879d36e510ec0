// tvsim's side of the transport seen by a bare client: a shell service is acknowledged at once
// and its output streams while the command runs; the lock-state broadcasts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "codec.h"
#include "harness.h"

namespace {

using namespace std::chrono_literals;

const std::string kSample = TESTDATA_DIR "/wgt";
const std::string kAppId = "N75lVtaOnD.TestApp";
const std::string kUploaded = "/home/owner/share/tmp/sdk_tools/tmp/Velmora.wgt";

// A TV that trusts the sample and holds it in its upload folder, ready to install.
std::vector<std::string> readyToInstall(const std::string& dir, const std::string& state) {
  harness::writeFile(dir + "/author-ca.pem", harness::issuerPem(harness::readFile(kSample + "/author-signature.xml")));
  harness::writeFile(dir + "/distributor-ca.pem", harness::issuerPem(harness::readFile(kSample + "/signature1.xml")));
  harness::writeFile(state + "/fs" + kUploaded, harness::storedZip(harness::readTree(kSample)));
  return {"--author-ca", dir + "/author-ca.pem", "--distributor-ca", dir + "/distributor-ca.pem",
          "--verify-time", "2018-06-01T00:00:00"};
}

class SocketStream : public wire::ByteStream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline deadline) override {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wire::millisecondsLeft(deadline)) <= 0) throw wire::Error("timed out");
    ssize_t n = ::recv(fd_, buf, len, 0);
    if (n < 0) throw wire::Error("receive failed");
    return std::size_t(n);
  }
  void writeAll(const void* buf, std::size_t len, wire::Deadline) override {
    if (::send(fd_, buf, len, MSG_NOSIGNAL) != ssize_t(len)) throw wire::Error("send failed");
  }

 private:
  int fd_;
};

// The PC's side of one link, packet by packet.
class RawLink {
 public:
  explicit RawLink(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)), s_(fd_) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    send(wire::kCnxn, wire::kHostVersion, wire::kHostMaxPayload, std::string(wire::kHostBanner, sizeof wire::kHostBanner));
    if (next().command != wire::kCnxn) throw std::runtime_error("no CNXN");
  }
  ~RawLink() { ::close(fd_); }

  void send(std::uint32_t command, std::uint32_t a0, std::uint32_t a1, std::string_view payload = {}) {
    std::string p = wire::encodePacket(command, a0, a1, payload);
    s_.writeAll(p.data(), p.size(), wire::Clock::now());
  }
  wire::Packet next() {
    auto p = wire::readPacket(s_, wire::kHostMaxPayload, wire::after(30s));
    if (!p) throw std::runtime_error("tvsim closed the link");
    return *p;
  }
  // Every packet from opening the service to the TV's CLSE, acking each WRTE.
  std::vector<wire::Packet> runService(const std::string& service) {
    send(wire::kOpen, 1, 0, service + '\0');
    std::vector<wire::Packet> seen;
    do {
      seen.push_back(next());
      if (seen.back().command == wire::kWrte) send(wire::kOkay, 1, seen.back().arg0);
    } while (seen.back().command != wire::kClse);
    return seen;
  }

 private:
  int fd_;
  SocketStream s_;
};

std::string text(const std::vector<wire::Packet>& packets) {
  std::string all;
  for (const auto& p : packets)
    if (p.command == wire::kWrte) all += p.payload;
  return all;
}

TEST(Link, AnInstallIsAcknowledgedAtOnceAndStreamsItsProgress) {
  struct Case {
    const char* duration;
    std::vector<int> progress;
    int atLeastMs;
  };
  for (const Case& c : {Case{"0", {25, 50, 75, 100}, 0}, Case{"1.5", {25, 50, 75, 100}, 1500},
                        Case{"4.2", {20, 40, 60, 80, 100}, 4200}}) {
    std::string dir = harness::tempDir("link");
    auto args = readyToInstall(dir, dir + "/state");
    args.insert(args.end(), {"--install-duration", c.duration});
    harness::TvSim tv(args, dir + "/state");
    RawLink link(tv.port());
    auto packets = link.runService("shell:0 vd_appinstall " + kAppId + " " + kUploaded + "; echo cmd_ret:$?;");

    ASSERT_EQ(packets.front().command, wire::kOkay) << c.duration;
    std::string out = text(packets);
    const std::string tag = "app_id[" + kAppId + "] ";
    std::string expected = "install " + kAppId + "\npackage_path " + kUploaded + "\n" + tag + "install start\n";
    for (int p : c.progress) expected += tag + "installing[" + std::to_string(p) + "]\n";
    expected += tag + "install completed\n";
    EXPECT_EQ(out.substr(0, expected.size()), expected) << c.duration;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("spend time for wascmd is \\[([0-9]+)\\]ms\ncmd_ret:0\n$")))
        << out;
    EXPECT_GE(std::stoi(m[1]), c.atLeastMs) << c.duration;
    // Output as it is produced: the start alone, before any progress.
    if (c.atLeastMs > 0) {
      EXPECT_EQ(packets[1].payload.find("installing["), std::string::npos) << c.duration;
    }
  }
}

TEST(Link, LockStateBroadcasts) {
  // What the PC sees around one shell command: the STATs with their state, the stream's own
  // packets by name.
  struct Case {
    std::vector<std::string> args;
    std::string seen;
  };
  const std::vector<Case> cases = {
      {{}, "OKAY WRTE CLSE"},
      {{"--lock-broadcast", "connect"}, "STAT0 OKAY WRTE CLSE"},
      {{"--lock-broadcast", "connect", "--locked"}, "STAT1 OKAY WRTE CLSE"},
      {{"--lock-broadcast", "toggle"}, "STAT0 OKAY STAT1 WRTE STAT0 CLSE"},
      {{"--lock-broadcast", "toggle", "--locked"}, "STAT1 OKAY STAT0 WRTE STAT1 CLSE"},
  };
  for (const auto& c : cases) {
    std::string dir = harness::tempDir("stat");
    harness::TvSim tv(c.args, dir + "/state");
    RawLink link(tv.port());
    std::vector<wire::Packet> packets;
    if (c.args.size() > 0) packets.push_back(link.next());
    for (auto& p : link.runService("shell:0 getappinstallpath")) packets.push_back(p);
    std::string seen;
    for (const auto& p : packets)
      seen += (seen.empty() ? "" : " ") + wire::commandName(p.command) +
              (p.command == wire::kStat ? std::to_string(p.arg0) : "");
    EXPECT_EQ(seen, c.seen) << c.args.size();
  }
}

}  // namespace
