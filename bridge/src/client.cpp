#include "client.h"

#include <stdexcept>
#include <vector>

#include "bounds.h"
#include "console.h"
#include "platform.h"
#include "server.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

using console::out;

std::string serverAddress() { return "127.0.0.1:" + std::to_string(serverPort()); }

// A failure reported to the user as "error: <operation>: <what>".
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The device stream as the server relays it: DATA frames until DONE, or FAIL with a reason.
class RelayedStream : public wire::ByteStream {
 public:
  explicit RelayedStream(plat::Socket& s) : s_(s) {}

  std::size_t readSome(void* buf, std::size_t len, wire::Deadline deadline) override {
    while (left_ == 0) {
      if (done_) return 0;
      unsigned char head[wire::kFrameHeaderSize];
      if (!wire::readExactly(s_, head, sizeof head, deadline))
        throw wire::Error("the server ended the stream without a reason");
      std::uint32_t tag = wire::le32(head), length = wire::le32(head + 4);
      if (tag == wire::kFrameData) {
        if (length > wire::kHostMaxPayload) throw wire::Error("oversized frame from the server");
        left_ = length;
      } else if (tag == wire::kFrameDone && length == 0) {
        done_ = true;
      } else if (tag == wire::kFrameFail && length <= wire::kRequestMax) {
        std::string why(length, '\0');
        if (length != 0 && !wire::readExactly(s_, why.data(), length, deadline))
          throw wire::Error("the server ended the stream without a reason");
        throw wire::Error(why);
      } else {
        throw wire::Error("malformed frame from the server");
      }
    }
    std::size_t n = s_.readSome(buf, std::min<std::size_t>(len, left_), deadline);
    if (n == 0) throw wire::Error("the server closed the stream in the middle of a frame");
    left_ -= std::uint32_t(n);
    return n;
  }

  void writeAll(const void* buf, std::size_t len, wire::Deadline deadline) override {
    s_.writeAll(buf, len, deadline);
  }

 private:
  plat::Socket& s_;
  std::uint32_t left_ = 0;
  bool done_ = false;
};

plat::Socket tryServer(plat::ConnectFailure& failure, std::string& reason) {
  return plat::connectTcp("127.0.0.1", serverPort(), wire::after(bounds::kServerConnect), failure,
                          reason);
}

// True when the server's mark says for certain that none runs: no connect needs trying.
bool serverKnownAbsent() {
  if (!plat::ServerMark::knownAbsent(serverPort())) return false;
  trace::note("client", "no server runs on port " + std::to_string(serverPort()));
  return true;
}

plat::Socket connectServer() {
  plat::ConnectFailure failure = plat::ConnectFailure::Refused;
  std::string reason;
  plat::Socket s;
  if (!serverKnownAbsent()) s = tryServer(failure, reason);
  if (s.valid()) return s;
  if (failure != plat::ConnectFailure::Refused)
    throw Failure("cannot reach the server at " + serverAddress() + ": " + reason);
  out("* Server is not running. Start it now on port " + std::to_string(serverPort()) + " *\n");
  std::string why;
  bool started = plat::spawnServer([](const std::string& token) { return runServer(serverPort(), token); },
                                   {"server"}, wire::after(bounds::kServerStart), why);
  // A server started at the same moment by another client is as good as ours.
  s = tryServer(failure, reason);
  if (!s.valid())
    throw Failure("could not start the server on " + serverAddress() + ": " +
                  (started ? reason : why));
  out("* Server has started successfully *\n");
  return s;
}

void send(plat::Socket& s, const std::string& request) {
  trace::note("client", "asks " + request);
  std::string framed = wire::encodeRequest(request);
  s.writeAll(framed.data(), framed.size(), wire::after(bounds::kServerReply));
}

// The transport request and the service request in one write, followed by the service's first
// bytes if it takes any: the server answers them in turn, and the command saves a round trip.
void sendWithTransport(plat::Socket& s, const std::string& service, const std::string& after = {}) {
  trace::note("client", "asks host:transport-any");
  trace::note("client", "asks " + service);
  std::string framed = wire::encodeRequest("host:transport-any") + wire::encodeRequest(service) + after;
  s.writeAll(framed.data(), framed.size(), wire::after(bounds::kServerReply));
}

// OKAY (with its text when withText) or throws Failure with the FAIL text.
std::string expectOkay(plat::Socket& s, bool withText) {
  auto deadline = wire::after(bounds::kServerReply);
  char status[4];
  if (!wire::readExactly(s, status, 4, deadline)) throw wire::Error("the server closed the connection");
  std::string_view st(status, 4);
  if (st == wire::kFailText) {
    auto text = wire::readFramedText(s, deadline);
    throw Failure(text ? *text : "the server failed without a reason");
  }
  if (st != wire::kOkayText) throw wire::Error("malformed reply from the server");
  if (!withText) return {};
  auto text = wire::readFramedText(s, deadline);
  if (!text) throw wire::Error("the server closed the connection");
  return *text;
}

// Asks the server for a device service on the only connected TV.
plat::Socket openService(const std::string& service) {
  plat::Socket s = connectServer();
  sendWithTransport(s, service);
  expectOkay(s, false);
  expectOkay(s, false);
  return s;
}

int killServer() {
  if (serverKnownAbsent()) {
    out("info: server not running\n");
    return 0;
  }
  plat::ConnectFailure failure;
  std::string reason;
  plat::Socket s = tryServer(failure, reason);
  if (!s.valid()) {
    if (failure == plat::ConnectFailure::Refused) {
      out("info: server not running\n");
      return 0;
    }
    throw Failure("cannot reach the server at " + serverAddress() + ": " + reason);
  }
  send(s, "host:kill");
  expectOkay(s, false);
  // Returns once the server process is gone, so that its program file can be deleted.
  auto deadline = wire::after(bounds::kServerExit);
  char byte;
  try {
    while (s.readSome(&byte, 1, deadline) != 0) {
    }
  } catch (const wire::Error&) {
    // A reset connection is as good as a closed one here.
  }
  return 0;
}

int connect(const Invocation& inv) {
  plat::Socket s = connectServer();
  std::string target = inv.target.find(':') == std::string::npos
                           ? inv.target + ":" + std::to_string(wire::kDevicePort)
                           : inv.target;
  out("connecting to " + target + " ...\n");
  send(s, "host:connect:" + target);
  out(expectOkay(s, true) + "\n");
  return 0;
}

int devices() {
  plat::Socket s = connectServer();
  send(s, "host:devices");
  std::string list = expectOkay(s, true);
  out("List of devices attached \n" + list);
  return 0;
}

int shell(const Invocation& inv) {
  plat::Socket s = openService("shell:" + inv.shellText);
  RelayedStream in(s);
  std::vector<char> buf(64 * 1024);
  while (std::size_t n = in.readSome(buf.data(), buf.size(), wire::after(bounds::kStreamIdle)))
    out(std::string_view(buf.data(), n));
  return 0;
}

int capability() {
  plat::Socket s = openService("capability:");
  RelayedStream in(s);
  auto deadline = wire::after(bounds::kStreamIdle);
  unsigned char len[2];
  if (!wire::readExactly(in, len, 2, deadline)) throw wire::Error("the TV sent no capabilities");
  std::size_t n = std::size_t(len[0]) | std::size_t(len[1]) << 8;
  if (n == 0 || n > wire::kCapabilityMax) throw wire::Error("capability length out of range");
  std::string text(n, '\0');
  if (!wire::readExactly(in, text.data(), n, deadline) || text.back() != '\0')
    throw wire::Error("malformed capability text");
  text.pop_back();
  out(text);
  return 0;
}

int push(const Invocation& inv) {
  // Checked here for the error to name the file as given; the server reads it by its full path.
  std::string why;
  if (!plat::InputFile().open(inv.local, why)) throw Failure("cannot open '" + inv.local + "': " + why);
  if (inv.remote.size() > wire::kSyncPathMax) throw Failure("remote path longer than 1024 bytes");
  std::string local = plat::absolutePath(inv.local);
  if (local.size() > wire::kLocalPathMax)
    throw Failure("local path longer than " + std::to_string(wire::kLocalPathMax) + " bytes");

  auto started = wire::Clock::now();
  plat::Socket s = connectServer();
  sendWithTransport(s, "push:" + inv.remote, wire::syncRequest(wire::kSyncSend, local));
  expectOkay(s, false);
  expectOkay(s, false);

  // Progress while the server sends, then its verdict.
  RelayedStream in(s);
  std::uint64_t total = 0;
  while (true) {
    unsigned char head[wire::kSyncHeaderSize];
    if (!wire::readExactly(in, head, sizeof head, wire::after(bounds::kStreamIdle)))
      throw wire::Error("the server ended the push without a result");
    std::uint32_t id = wire::le32(head), value = wire::le32(head + 4);
    if (id == wire::kSyncData) {
      total += value;
      continue;
    }
    if (id == wire::kSyncOkay) break;
    if (id != wire::kSyncFail || value > wire::kRequestMax) throw wire::Error("malformed push result from the server");
    std::string why(value, '\0');
    if (!wire::readExactly(in, why.data(), value, wire::after(bounds::kStreamIdle)))
      throw wire::Error("the server ended the push without a result");
    throw Failure(why);
  }
  char rest[64];
  while (in.readSome(rest, sizeof rest, wire::after(bounds::kStreamIdle)) != 0) {
  }

  auto us = std::chrono::duration_cast<std::chrono::microseconds>(wire::Clock::now() - started).count();
  if (us < 1) us = 1;
  out("1 file(s) pushed. 0 file(s) skipped.\n");
  out(inv.local + "   " + std::to_string(total * 1000000 / 1024 / std::uint64_t(us)) + "KB/s (" +
      std::to_string(total) + " bytes in " + std::to_string(us / 1000000) + "." +
      std::to_string(1000 + us / 1000 % 1000).substr(1) + "s)\n");
  return 0;
}

const char* operationName(Invocation::Kind k) {
  switch (k) {
    case Invocation::Kind::Connect: return "connect";
    case Invocation::Kind::Devices: return "devices";
    case Invocation::Kind::Shell: return "shell";
    case Invocation::Kind::Push: return "push";
    case Invocation::Kind::Capability: return "capability";
    case Invocation::Kind::KillServer: return "kill-server";
    default: return "iu";
  }
}

}  // namespace

std::uint16_t serverPort() {
  std::string v = plat::getEnv("IU_SERVER_PORT");
  if (v.empty()) return wire::kServerPort;
  auto t = wire::parseTarget("0.0.0.0:" + v);
  if (!t) throw std::invalid_argument("IU_SERVER_PORT is not a port number: '" + v + "'");
  return t->port;
}

int runClient(const Invocation& inv) {
  try {
    switch (inv.kind) {
      case Invocation::Kind::KillServer: return killServer();
      case Invocation::Kind::Connect: return connect(inv);
      case Invocation::Kind::Devices: return devices();
      case Invocation::Kind::Shell: return shell(inv);
      case Invocation::Kind::Push: return push(inv);
      case Invocation::Kind::Capability: return capability();
      default: return 1;
    }
  } catch (const Failure& e) {
    // Some texts read as the platform tool's own, and users search for them as they are.
    std::string text = e.what();
    bool known = false;
    for (const char* start : {"error: ", "failed to connect", "failed to close", "closed"})
      known |= text.rfind(start, 0) == 0;
    if (text.rfind("error: ", 0) != 0)
      text = known ? "error: " + text : std::string("error: ") + operationName(inv.kind) + ": " + text;
    console::error(text + "\n");
  } catch (const wire::Error& e) {
    console::error(std::string("error: ") + operationName(inv.kind) + ": " + e.what() + "\n");
  }
  return 1;
}

}  // namespace bridge
