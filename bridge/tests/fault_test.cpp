// A TV that fails in each way tvsim can act out, or a peer that is no TV at all: every
// invocation ends within its bound with a message that says what happened, and the server goes
// on serving the next command.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "codec.h"
#include "harness.h"
#include "wire.h"

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A peer on loopback that answers each of the first reads with the next piece of a script,
// then closes.
class FakePeer {
 public:
  explicit FakePeer(std::vector<std::string> replies) : replies_(std::move(replies)) {
    fd_ = harness::bindLoopback(port_);
    ::listen(fd_, 4);
    thread_ = std::thread([this] {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      for (const auto& reply : replies_) {
        if (::recv(c, buf, sizeof buf, 0) <= 0) break;
        ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      ::close(c);
      std::lock_guard<std::mutex> lock(m_);
      closed_ = true;
      cv_.notify_all();
    });
  }
  // True once the peer has closed its side, within a bounded wait.
  bool waitClosed() {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [this] { return closed_; });
  }
  ~FakePeer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::vector<std::string> replies_;
  int fd_ = -1, port_ = 0;
  std::mutex m_;
  std::condition_variable cv_;
  bool closed_ = false;
  std::thread thread_;
};

struct Fault {
  const char* name;
  std::vector<std::string> tvsimArgs;  // empty: a scripted FakePeer instead of tvsim
  std::vector<std::string> peerScript;
  std::vector<std::string> invocation;  // what is run after connecting ("connect" runs alone)
  std::string message;                  // in stderr; {tv} stands for the TV's address
  double bound;                         // seconds
};

std::string cnxnReply() {
  return wire::encodePacket(wire::kCnxn, wire::kDeviceVersion, 4096, wire::deviceBanner("FAKE", false));
}

const std::string kPush = "/home/owner/share/tmp/sdk_tools/tmp/x.wgt";

const Fault kFaults[] = {
    {"CloseOnAccept", {"--fault", "close-on-accept"}, {}, {"connect"},
     "error: failed to connect to {tv}: the TV closed the connection without a handshake", 3},
    {"NoHandshakeReply", {"--fault", "no-handshake"}, {}, {"connect"},
     "error: failed to connect to {tv}: no handshake reply within 5 s", 7},
    {"CorruptHeader", {"--fault", "corrupt-header"}, {}, {"connect"},
     "error: failed to connect to {tv}: handshake failed: bad packet magic", 3},
    {"GarbageInsteadOfHandshake", {}, {"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"}, {"connect"},
     "error: failed to connect to {tv}: handshake failed: bad packet magic", 3},
    {"RefuseService", {"--fault", "refuse-service"}, {}, {"shell", "0", "applist"},
     "error: closed ({tv} refused the service)", 3},
    {"StallAfterOpen", {"--fault", "stall"}, {}, {"shell", "0", "applist"},
     "error: shell: device {tv}: no data from the TV for 12 s", 15},
    {"StallDuringPush", {"--fault", "stall"}, {}, {"push", "{file}", kPush},
     "error: push: device {tv}: no data from the TV for 12 s", 15},
    {"FailPush", {"--fault", "fail-push"}, {}, {"push", "{file}", kPush},
     "error: failed to close '" + kPush + "': No space left on device", 3},
    {"GarbageInAStream", {}, {cnxnReply(), std::string(24, '\x5a')}, {"shell", "0", "applist"},
     "error: shell: device {tv}: bad packet magic", 3},
    {"OversizedPacketInAStream", {},
     {cnxnReply(), wire::encodePacket(wire::kOkay, 1, 1, {}).replace(12, 4, std::string("\x00\x00\x10\x00", 4))},
     {"shell", "0", "applist"},
     "error: shell: device {tv}: packet payload of 1048576 bytes exceeds the limit of 262144", 3},
    {"ClosesInAStream", {}, {cnxnReply(), wire::encodePacket(wire::kOkay, 5, 1, {})},
     {"shell", "0", "applist"}, "error: shell: device {tv}: the TV closed the connection", 3},
    {"GoneBetweenCommands", {}, {cnxnReply()}, {"shell", "0", "applist"}, "error: target not found", 3},
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

std::string fill(std::string s, const std::string& key, const std::string& value) {
  for (std::size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
  return s;
}

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, EndInTimeWithAReasonAndTheServerGoesOn) {
  const Fault& f = GetParam();
  std::string dir = harness::tempDir("fault");
  std::unique_ptr<harness::TvSim> tv;
  std::unique_ptr<FakePeer> peer;
  std::string address;
  if (!f.tvsimArgs.empty()) {
    tv = std::make_unique<harness::TvSim>(f.tvsimArgs, dir + "/state");
    address = tv->address();
  } else {
    peer = std::make_unique<FakePeer>(f.peerScript);
    address = peer->address();
  }
  harness::writeFile(dir + "/x.wgt", std::string(300000, 'x'));
  harness::Bridge b;
  harness::Result r;
  if (f.invocation[0] == "connect") {
    r = b.iu({"connect", address});
  } else {
    ASSERT_EQ(b.iu({"connect", address}).status, 0);
    // A peer whose script ends with the handshake is gone before the command, not during it.
    if (peer && f.peerScript.size() == 1) {
      ASSERT_TRUE(peer->waitClosed());
    }
    std::vector<std::string> args;
    for (const auto& a : f.invocation) args.push_back(fill(a, "{file}", dir + "/x.wgt"));
    r = b.iu(args);
  }
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(has(r.err, fill(f.message, "{tv}", address))) << r.err;
  EXPECT_LT(r.seconds, f.bound);

  // The server is still there: it lists what it holds and takes a healthy TV.
  harness::TvSim healthy({}, dir + "/healthy");
  auto list = b.iu({"devices"});
  EXPECT_EQ(list.status, 0);
  EXPECT_TRUE(has(list.out, "List of devices attached \n"));
  EXPECT_FALSE(has(list.out, "* Server is not running")) << list.out;
  auto again = b.iu({"connect", healthy.address()});
  EXPECT_TRUE(has(again.out, "connected to " + healthy.address())) << again.err;
}

INSTANTIATE_TEST_SUITE_P(Table, Faults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The TV's failure lines for an installation, one per code it can report.
TEST(InstallFailures, EachCodePrintsTheTvsLine) {
  const std::string id = "Kx7RmVq2Tz.Velmora", tag = "app_id[" + id + "] ";
  const std::string cert = tag + "install failed[118, -12], reason: Check certificate error : :";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-1", cert + "Invalid format of signature file:<-1>"},
      {"-2", cert + "Invalid certificate encoding in signature:<-2>"},
      {"-3", cert + "Invalid certificate chain with certificate in signature.:<-3>"},
      {"-4", cert + "Invalid signature:<-4>"},
      {"-5", cert + "Invalid file reference. An unsigned file was found.:<-5>"},
      {"-6", cert + "Certificate in signature has expired:<-6>"},
      {"-7", cert + "Certificate in signature is not yet valid:<-7>"},
      {"-11", tag + "install failed[118, -11], reason: Author certificate not match :"},
      {"116", tag + "download failed[116]"},
      {"118", tag + "install failed[118]"},
  };
  std::string dir = harness::tempDir("install-failures");
  for (const auto& [code, line] : cases) {
    harness::TvSim tv({"--fault", "install:" + code}, dir + "/" + code);
    harness::Bridge b;
    b.iu({"connect", tv.address()});
    auto r = b.iu({"shell", "0", "vd_appinstall", id, "/opt/usr/apps/tmp/Velmora.wgt;", "echo", "cmd_ret:$?;"});
    EXPECT_TRUE(has(r.out, line + "\n")) << code << ": " << r.out;
    EXPECT_TRUE(has(r.out, "cmd_ret:0\n")) << code;
    EXPECT_FALSE(has(r.out, "install completed")) << code;
  }
}

}  // namespace
