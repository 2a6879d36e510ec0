#include "args.h"

#include <stdexcept>

#include "codec.h"
#include "wire.h"

namespace bridge {

std::string joinShellArgs(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) {
    if (!text.empty()) text.push_back(' ');
    if (a.empty() || a.find(' ') != std::string::npos)
      text += "\"" + a + "\"";
    else
      text += a;
  }
  return text;
}

namespace {

// Long texts from the command line are quoted in messages only by their start.
std::string quoted(const std::string& s) { return "'" + (s.size() > 64 ? s.substr(0, 64) + "..." : s) + "'"; }

}  // namespace

std::string usage() {
  return "Velmora device bridge\n"
         "usage: iu COMMAND [ARGS]\n"
         "  connect ADDRESS[:PORT]   connect to a TV in developer mode (port 26101 if left out)\n"
         "  devices                  list the connected TVs\n"
         "  shell COMMAND...         run a command on the TV and print its output\n"
         "  push LOCAL REMOTE        copy a file to the TV\n"
         "  capability               print what the TV reports about itself\n"
         "  kill-server              stop the background server\n"
         "  server                   run the background server in the foreground\n"
         "  version                  print the version of this tool\n"
         "  help                     print this text\n";
}

Invocation parseInvocation(const std::vector<std::string>& args) {
  using Kind = Invocation::Kind;
  if (args.empty()) throw std::invalid_argument("no command given");
  const std::string& cmd = args[0];
  std::size_t extra = args.size() - 1;
  auto exactly = [&](std::size_t n) {
    if (extra != n)
      throw std::invalid_argument("'" + cmd + "' takes " + std::to_string(n) + " argument(s), got " +
                                  std::to_string(extra));
  };
  Invocation inv;
  if (cmd == "help" || cmd == "--help" || cmd == "-h") {
    inv.kind = Kind::Help;
  } else if (cmd == "version") {
    exactly(0);
    inv.kind = Kind::Version;
  } else if (cmd == "kill-server") {
    exactly(0);
    inv.kind = Kind::KillServer;
  } else if (cmd == "devices") {
    exactly(0);
    inv.kind = Kind::Devices;
  } else if (cmd == "capability") {
    exactly(0);
    inv.kind = Kind::Capability;
  } else if (cmd == "connect") {
    exactly(1);
    inv.kind = Kind::Connect;
    auto target = wire::parseTarget(args[1]);
    if (!target)
      throw std::invalid_argument(quoted(args[1]) + " is not an IPv4 address with an optional port (a.b.c.d[:port])");
    inv.target = target->serial();
  } else if (cmd == "push") {
    exactly(2);
    inv.kind = Kind::Push;
    inv.local = args[1];
    inv.remote = args[2];
    if (inv.local.empty() || inv.remote.empty()) throw std::invalid_argument("push needs a local and a remote path");
    if (inv.remote.size() > wire::kSyncPathMax)
      throw std::invalid_argument("the remote path is " + std::to_string(inv.remote.size()) +
                                  " bytes long, more than the " + std::to_string(wire::kSyncPathMax) + " the TV takes");
  } else if (cmd == "shell") {
    if (extra == 0) throw std::invalid_argument("shell needs a command (no interactive shell)");
    inv.kind = Kind::Shell;
    inv.shellText = joinShellArgs(std::vector<std::string>(args.begin() + 1, args.end()));
    // The request "shell:TEXT" must fit the server's request limit.
    const std::size_t most = wire::kRequestMax - std::string_view("shell:").size();
    if (inv.shellText.size() > most)
      throw std::invalid_argument("the shell command is " + std::to_string(inv.shellText.size()) +
                                  " bytes long, more than the " + std::to_string(most) + " the server takes");
  } else if (cmd == "server") {
    inv.kind = Kind::Server;
    if (extra == 2 && args[1] == "--ready")
      inv.readyToken = args[2];
    else if (extra != 0)
      throw std::invalid_argument("server takes no arguments");
  } else {
    throw std::invalid_argument("unknown command '" + cmd + "'");
  }
  return inv;
}

}  // namespace bridge
