#include "client.h"

#include <vector>

#include "bounds.h"
#include "console.h"
#include "failure.h"
#include "frames.h"
#include "platform.h"
#include "server.h"
#include "settings.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

using console::out;

[[noreturn]] void fail(std::string detail) { throw wire::Failed({wire::FailKind::Local, {}, std::move(detail)}); }

// The one place where a failure becomes the user's message. Some texts read as the platform
// tool's own, and users search for them as they are.
std::string message(const wire::Failure& f, const std::string& operation) {
  using K = wire::FailKind;
  switch (f.kind) {
    case K::NoTarget: return "error: target not found";
    case K::ManyTargets: return "error: more than one target found. Specify the target with -s option.";
    case K::Unreachable:
      return "error: failed to connect to remote target '" + f.tv.substr(0, f.tv.find(':')) + "': " + f.detail;
    case K::Handshake: return "error: failed to connect to " + f.tv + ": " + f.detail;
    case K::Refused: return "error: closed (" + f.tv + " refused the service)";
    case K::WriteFailed: return "error: failed to close " + f.detail;
    case K::Device: return "error: " + operation + ": device " + f.tv + ": " + f.detail;
    case K::Local: break;
  }
  return "error: " + operation + ": " + f.detail;
}

std::string serverAddress() { return "127.0.0.1:" + std::to_string(serverPort()); }

// True when the server's mark says for certain that none runs: no connect needs trying.
bool serverKnownAbsent() {
  if (!plat::ServerMark::knownAbsent(serverPort())) return false;
  trace::note("client", "no server runs on port " + std::to_string(serverPort()));
  return true;
}

plat::Socket tryServer(plat::ConnectFailure& failure, std::string& reason) {
  plat::Socket s = plat::connectTcp("127.0.0.1", serverPort(), wire::after(bounds::kServerConnect), failure, reason);
  if (failure == plat::ConnectFailure::Refused)
    trace::note("client", "port " + std::to_string(serverPort()) + " refused");
  return s;
}

plat::Socket connectServer() {
  plat::ConnectFailure failure = plat::ConnectFailure::Refused;
  std::string reason;
  plat::Socket s;
  if (!serverKnownAbsent()) s = tryServer(failure, reason);
  if (s.valid()) return s;
  if (failure != plat::ConnectFailure::Refused) fail("cannot reach the server at " + serverAddress() + ": " + reason);
  out("* Server is not running. Start it now on port " + std::to_string(serverPort()) + " *\n");
  std::string why;
  bool started = plat::spawnServer([](const std::string& token) { return runServer(serverPort(), token); }, {"server"},
                                   wire::after(bounds::kServerStart), why);
  // A server started at the same moment by another client is as good as ours.
  s = tryServer(failure, reason);
  if (!s.valid()) fail("could not start the server on " + serverAddress() + ": " + (started ? reason : why));
  out("* Server has started successfully *\n");
  return s;
}

// Requests in one write, followed by the first bytes of the service if it takes any: the server
// answers them in turn, and the command saves a round trip per request.
void send(plat::Socket& s, const std::vector<std::string>& requests, const std::string& after = {}) {
  std::string framed;
  for (const auto& r : requests) {
    trace::note("client", "asks " + r);
    framed += wire::encodeRequest(r);
  }
  framed += after;
  s.writeAll(framed.data(), framed.size(), wire::after(bounds::kServerReply));
}

// OKAY (with its text when withText), or throws the FAIL's failure.
std::string expectOkay(plat::Socket& s, bool withText) {
  auto deadline = wire::after(bounds::kServerReply);
  char status[4];
  if (!wire::readExactly(s, status, 4, deadline)) fail("the server closed the connection");
  std::string_view st(status, 4);
  if (st == wire::kFailText) {
    auto text = wire::readFramedText(s, deadline);
    throw wire::Failed(wire::decodeFailure(text ? *text : "the server failed without a reason"));
  }
  if (st != wire::kOkayText) fail("malformed reply from the server");
  if (!withText) return {};
  auto text = wire::readFramedText(s, deadline);
  if (!text) fail("the server closed the connection");
  return *text;
}

// The client's one stream pump: the TV's stream as the server relays it, each frame due
// within kStreamIdle of the last (the server sends progress while it works) and all of it
// within the command's limit and a reply's time more.
class Relay {
 public:
  Relay(plat::Socket& s, std::chrono::milliseconds limit)
      : frames_(s), limit_(limit + bounds::kServerReply), end_(wire::after(limit_)) {}

  std::size_t read(void* buf, std::size_t len) {
    return pumped([&](wire::Deadline due) { return frames_.readSome(buf, len, due); });
  }
  bool readExactly(void* buf, std::size_t len) {
    return pumped([&](wire::Deadline due) { return wire::readExactly(frames_, buf, len, due); });
  }
  wire::PushEvent pushEvent() {
    return pumped([&](wire::Deadline due) { return wire::readPushEvent(frames_, due); });
  }

 private:
  template <class Read>
  auto pumped(Read read) -> decltype(read(wire::Deadline())) {
    const wire::Deadline idle = wire::after(bounds::kStreamIdle);
    try {
      return read(std::min(idle, end_));
    } catch (const wire::Timeout&) {
      if (end_ <= idle) fail("the server sent no end within " + seconds(limit_));
      fail("the server sent nothing for " + seconds(bounds::kStreamIdle));
    }
  }

  wire::FrameReader frames_;
  const std::chrono::milliseconds limit_;
  const wire::Deadline end_;
};

// Asks the server for a device service on the only connected TV; `first` goes right after.
plat::Socket openService(const std::string& service, const std::string& first = {}) {
  plat::Socket s = connectServer();
  send(s, {"host:transport-any", service}, first);
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
    fail("cannot reach the server at " + serverAddress() + ": " + reason);
  }
  send(s, {"host:kill"});
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
  out("connecting to " + inv.target + " ...\n");
  send(s, {"host:connect:" + inv.target});
  out(expectOkay(s, true) + "\n");
  return 0;
}

int devices() {
  plat::Socket s = connectServer();
  send(s, {"host:devices"});
  std::string list = expectOkay(s, true);
  out("List of devices attached \n" + list);
  return 0;
}

int shell(const Invocation& inv) {
  plat::Socket s = openService("shell:" + inv.shellText);
  Relay in(s, commandLimit());
  std::vector<char> buf(64 * 1024);
  while (std::size_t n = in.read(buf.data(), buf.size())) out(std::string_view(buf.data(), n));
  return 0;
}

int capability() {
  plat::Socket s = openService("capability:");
  Relay in(s, commandLimit());
  unsigned char len[2];
  if (!in.readExactly(len, 2)) fail("the TV sent no capabilities");
  std::size_t n = std::size_t(len[0]) | std::size_t(len[1]) << 8;
  if (n == 0 || n > wire::kCapabilityMax) fail("capability length out of range");
  std::string text(n, '\0');
  if (!in.readExactly(text.data(), n) || text.back() != '\0') fail("malformed capability text");
  text.pop_back();
  out(text);
  return 0;
}

int push(const Invocation& inv) {
  // Checked here for the error to name the file as given; the server reads it by its full path.
  plat::InputFile file;
  std::string why;
  if (!file.open(inv.local, why)) fail("cannot open '" + inv.local + "': " + why);
  std::string local = plat::absolutePath(inv.local);
  if (local.size() > wire::kLocalPathMax)
    fail("the local path is " + std::to_string(local.size()) + " bytes long, more than the " +
         std::to_string(wire::kLocalPathMax) + " the server takes");

  auto started = wire::Clock::now();
  plat::Socket s = openService("push:" + inv.remote, wire::syncRequest(wire::kSyncSend, local));
  // Progress while the server sends, then its verdict.
  Relay in(s, commandLimit(file.size()));
  std::uint64_t total = 0;
  for (wire::PushEvent e; (e = in.pushEvent()).kind != wire::PushEvent::Kind::Done;) {
    if (e.kind == wire::PushEvent::Kind::Failed) throw wire::Failed(e.failure);
    total += e.bytes;
  }
  char rest[64];
  while (in.read(rest, sizeof rest) != 0) {
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
  } catch (const wire::Failed& e) {
    console::error(message(e.failure(), operationName(inv.kind)) + "\n");
  } catch (const wire::Error& e) {
    // Whatever else failed on this side or on the wire to the server.
    console::error(message({wire::FailKind::Local, {}, e.what()}, operationName(inv.kind)) + "\n");
  }
  return 1;
}

}  // namespace bridge
