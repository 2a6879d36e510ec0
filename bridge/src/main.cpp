#include <stdexcept>
#include <string>
#include <vector>

#include "args.h"
#include "client.h"
#include "console.h"
#include "platform.h"
#include "server.h"
#include "settings.h"

namespace {

int run(const std::vector<std::string>& args) {
  plat::init();
  bridge::Invocation inv;
  std::uint16_t port = 0;
  try {
    inv = bridge::parseInvocation(args);
    port = bridge::serverPort();
    bridge::commandLimit();
  } catch (const std::invalid_argument& e) {
    console::error(std::string("error: ") + e.what() + "\nrun 'iu help' for the commands\n");
    return 1;
  }
  switch (inv.kind) {
    case bridge::Invocation::Kind::Help: console::out(bridge::usage()); return 0;
    case bridge::Invocation::Kind::Version: console::out("Velmora device bridge version " IU_VERSION "\n"); return 0;
    case bridge::Invocation::Kind::Server: return bridge::runServer(port, inv.readyToken);
    default: return bridge::runClient(inv);
  }
}

}  // namespace

#ifdef _WIN32
// Arguments come as UTF-16, so that a path outside the ANSI code page arrives whole.
int wmain(int argc, wchar_t** argv) { return run(plat::utf8Arguments(argc, argv)); }
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
