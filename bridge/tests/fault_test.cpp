// A TV that fails in each way tvsim can act out, or one acted out by a script (garbage, lock
// state packets at any moment, streams without end, packets for ids never opened): every
// invocation ends within its bound with a message that names the TV and what happened, and the
// server goes on serving the next command.
#include <gtest/gtest.h>

#include <thread>

#include "codec.h"
#include "harness.h"
#include "scripted_tv.h"
#include "wire.h"

namespace {

using harness::Link;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Fault {
  const char* name = "";
  std::vector<std::string> tvsimArgs = {};      // tvsim with these arguments, or else
  harness::ScriptedTv::Script script = {};      // a TV acted out by this script
  bool scriptEndsFirst = false;                 // the script ends before the command runs
  std::map<std::string, std::string> env = {};  // for iu and the server it starts
  std::vector<std::string> invocation = {};     // run after connecting ("connect" runs alone)
  std::string message = {};                     // in stderr; {tv} stands for the TV's address
  double bound = 3;                             // seconds
  bool tvStays = false;                         // `devices` still lists the TV afterwards
};

const std::string kPush = "/home/owner/share/tmp/sdk_tools/tmp/x.wgt";
const std::vector<std::string> kShell = {"shell", "0", "applist"};

const Fault kFaults[] = {
    {.name = "CloseOnAccept",
     .tvsimArgs = {"--fault", "close-on-accept"},
     .invocation = {"connect"},
     .message = "error: failed to connect to {tv}: the TV closed the connection without a handshake"},
    {.name = "NoHandshakeReply",
     .tvsimArgs = {"--fault", "no-handshake"},
     .invocation = {"connect"},
     .message = "error: failed to connect to {tv}: no handshake reply within 5 s",
     .bound = 7},
    {.name = "CorruptHeader",
     .tvsimArgs = {"--fault", "corrupt-header"},
     .invocation = {"connect"},
     .message = "error: failed to connect to {tv}: handshake failed: bad packet magic"},
    {.name = "GarbageInsteadOfHandshake",
     .script = [](Link& l) { l.next(), l.sendRaw("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"); },
     .invocation = {"connect"},
     .message = "error: failed to connect to {tv}: handshake failed: bad packet magic"},
    {.name = "RefuseService",
     .tvsimArgs = {"--fault", "refuse-service"},
     .invocation = kShell,
     .message = "error: closed ({tv} refused the service)",
     .tvStays = true},
    {.name = "StallAfterOpen",
     .tvsimArgs = {"--fault", "stall"},
     .invocation = kShell,
     .message = "error: shell: device {tv}: no data from the TV for 12 s",
     .bound = 15},
    {.name = "StallDuringPush",
     .tvsimArgs = {"--fault", "stall"},
     .invocation = {"push", "{file}", kPush},
     .message = "error: push: device {tv}: no data from the TV for 12 s",
     .bound = 15},
    {.name = "FailPush",
     .tvsimArgs = {"--fault", "fail-push"},
     .invocation = {"push", "{file}", kPush},
     .message = "error: failed to close '" + kPush + "': No space left on device",
     .tvStays = true},
    {.name = "GarbageInAStream",
     .script = [](Link& l) { l.handshake(), l.next(), l.sendRaw(std::string(24, '\x5a')), l.hold(); },
     .invocation = kShell,
     .message = "error: shell: device {tv}: bad packet magic"},
    {.name = "OversizedPacketInAStream",
     .script =
         [](Link& l) {
           l.handshake(), l.next();
           l.sendRaw(wire::encodePacket(wire::kOkay, 1, 1, {}).replace(12, 4, std::string("\x00\x00\x10\x00", 4)));
           l.hold();
         },
     .invocation = kShell,
     .message = "error: shell: device {tv}: packet payload of 1048576 bytes exceeds the limit of 262144"},
    {.name = "ClosesInAStream",
     .script = [](Link& l) { l.handshake(), l.acceptOpen(); },
     .invocation = kShell,
     .message = "error: shell: device {tv}: the TV closed the connection"},
    {.name = "GoneBetweenCommands",
     .script = [](Link& l) { l.handshake(); },
     .scriptEndsFirst = true,
     .invocation = kShell,
     .message = "error: target not found"},
    // Output that never ends, each piece well within the stall bound: the command's limit ends
    // it, and a TV that then closes the stream as asked stays connected.
    {.name = "EndlessShellStream",
     .script =
         [](Link& l) {
           l.handshake();
           for (std::uint32_t id = l.acceptOpen(); l.write(id, "app_id[x] installing[50]\n");) pause(50);
           l.hold();
         },
     .env = {{"IU_COMMAND_LIMIT", "2"}},
     .invocation = kShell,
     .message = "error: shell: device {tv}: the command ran longer than its limit of 2 s",
     .bound = 5,
     .tvStays = true},
    // Acks that come, but too slowly for the file ever to arrive: the push's limit (its base
    // plus the size at the slowest rate, 2 + 4 s for 300,000 bytes) ends it.
    {.name = "PushTooSlowForItsLimit",
     .script =
         [](Link& l) {
           l.handshake();
           std::uint32_t id = l.acceptOpen();
           for (wire::Packet p = l.next(); p.command != wire::kClse; p = l.next()) {
             if (p.command != wire::kWrte) continue;  // the PC's ack of our STAT answer
             pause(500);
             l.send(wire::kOkay, Link::kTvId, id);
             if (p.payload.substr(0, 4) == "STAT")
               l.send(wire::kWrte, Link::kTvId, id, wire::syncHeader(wire::kSyncStat, 0) + std::string(8, '\0'));
           }
           l.send(wire::kClse, Link::kTvId, id);
           l.hold();
         },
     .env = {{"IU_COMMAND_LIMIT", "2"}},
     .invocation = {"push", "{file}", kPush},
     .message = "error: push: device {tv}: the push ran longer than its limit of 6 s",
     .bound = 9,
     .tvStays = true},
    // Packets for ids the PC never opened and lock-state packets, while this stream stalls:
    // none of them restarts the stall timer.
    {.name = "UnknownIdsDuringAStall",
     .script =
         [](Link& l) {
           l.handshake();
           l.acceptOpen();
           while (true) {
             l.send(wire::kWrte, Link::kTvId, 999, "late output");
             l.send(wire::kOkay, Link::kTvId, 998);
             l.send(wire::kStat, 1, 0);
             pause(200);
           }
         },
     .invocation = kShell,
     .message = "error: shell: device {tv}: no data from the TV for 12 s",
     .bound = 15},
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
  std::unique_ptr<harness::TvSim> tvsim;
  std::unique_ptr<harness::ScriptedTv> scripted;
  std::string address;
  if (f.script) {
    scripted = std::make_unique<harness::ScriptedTv>(f.script);
    address = scripted->address();
  } else {
    tvsim = std::make_unique<harness::TvSim>(f.tvsimArgs, dir + "/state");
    address = tvsim->address();
  }
  harness::writeFile(dir + "/x.wgt", std::string(300000, 'x'));
  harness::Bridge b;
  b.env.insert(f.env.begin(), f.env.end());
  harness::Result r;
  if (f.invocation[0] == "connect") {
    r = b.iu({"connect", address});
  } else {
    ASSERT_EQ(b.iu({"connect", address}).status, 0);
    if (f.scriptEndsFirst) {
      ASSERT_TRUE(scripted->waitEnded());
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
  EXPECT_EQ(has(list.out, address), f.tvStays) << list.out;
  auto again = b.iu({"connect", healthy.address()});
  EXPECT_TRUE(has(again.out, "connected to " + healthy.address())) << again.err;
}

INSTANTIATE_TEST_SUITE_P(Table, Faults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// A TV broadcasts its lock state whenever it changes: before its handshake or a command, inside
// a command, between two.
// None of that drops it, cuts a stream short or is lost for `devices`.
TEST(LockState, PacketsAnywhereKeepTheTvAndShowInDevices) {
  harness::ScriptedTv tv([](Link& l) {
    l.next();
    l.send(wire::kStat, 0, 0);  // before the handshake
    l.send(wire::kCnxn, wire::kDeviceVersion, 4096, wire::deviceBanner("FAKE", false));
    l.send(wire::kStat, 1, 0);  // before any command
    std::uint32_t id = l.acceptOpen();
    l.write(id, "one\n");
    l.send(wire::kStat, 0, 0);  // inside
    l.write(id, "two\n");
    l.send(wire::kStat, 1, 0);
    l.close(id);
    l.send(wire::kStat, 0, 0);  // between
    id = l.acceptOpen();
    l.send(wire::kStat, 1, 0);
    l.send(wire::kStat, 0, 0);
    l.write(id, "three\n");
    l.close(id);
    l.hold();
  });
  harness::Bridge b;
  ASSERT_EQ(b.iu({"connect", tv.address()}).status, 0);
  std::string serial = tv.address() + std::string(20 - tv.address().size(), ' ');
  EXPECT_EQ(b.iu({"devices"}).out, "List of devices attached \n" + serial + "\tlocked    \tFAKE\n");
  auto r = b.iu(kShell);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "one\ntwo\n");
  r = b.iu(kShell);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "three\n");
  EXPECT_EQ(b.iu({"devices"}).out, "List of devices attached \n" + serial + "\tdevice    \tFAKE\n");
}

// tvsim broadcasting its lock state around and inside every command: the whole install works.
TEST(LockState, AnInstallOnABroadcastingTv) {
  std::string dir = harness::tempDir("lock-broadcast");
  harness::TvSim tv({"--lock-broadcast", "toggle", "--install-duration", "1.5"}, dir + "/state");
  harness::Bridge b;
  ASSERT_EQ(b.iu({"connect", tv.address()}).status, 0);
  for (int i = 0; i < 2; ++i) {
    auto r = b.iu(
        {"shell", "0", "vd_appinstall", "N75lVtaOnD.TestApp", "/opt/usr/apps/tmp/none.wgt;", "echo", "cmd_ret:$?;"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "cmd_ret:")) << r.out;
  }
  EXPECT_TRUE(has(b.iu({"devices"}).out, "\tdevice    \t")) << "the TV is gone";
}

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
