#include "args.h"

#include <stdexcept>

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
    inv.target = args[1];
  } else if (cmd == "push") {
    exactly(2);
    inv.kind = Kind::Push;
    inv.local = args[1];
    inv.remote = args[2];
    if (inv.local.empty() || inv.remote.empty())
      throw std::invalid_argument("push needs a local and a remote path");
  } else if (cmd == "shell") {
    if (extra == 0) throw std::invalid_argument("shell needs a command (no interactive shell)");
    inv.kind = Kind::Shell;
    inv.shellText = joinShellArgs(std::vector<std::string>(args.begin() + 1, args.end()));
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
