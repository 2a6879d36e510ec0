#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "args.h"
#include "client.h"
#include "platform.h"
#include "server.h"

int main(int argc, char** argv) {
  plat::init();
  std::vector<std::string> args(argv + 1, argv + argc);
  bridge::Invocation inv;
  std::uint16_t port = 0;
  try {
    inv = bridge::parseInvocation(args);
    port = bridge::serverPort();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "error: %s\nrun 'iu help' for the commands\n", e.what());
    return 1;
  }
  switch (inv.kind) {
    case bridge::Invocation::Kind::Help:
      std::fputs(bridge::usage().c_str(), stdout);
      return 0;
    case bridge::Invocation::Kind::Version:
      std::printf("Velmora device bridge version %s\n", IU_VERSION);
      return 0;
    case bridge::Invocation::Kind::Server:
      return bridge::runServer(port, inv.readyToken);
    default:
      return bridge::runClient(inv);
  }
}
