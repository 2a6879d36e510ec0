#include "settings.h"

#include <stdexcept>
#include <string>

#include "bounds.h"
#include "codec.h"
#include "platform.h"

namespace bridge {

std::uint16_t serverPort() {
  std::string v = plat::getEnv("IU_SERVER_PORT");
  if (v.empty()) return wire::kServerPort;
  auto port = wire::parseDecimal(v, 65535);
  if (!port || *port == 0) throw std::invalid_argument("IU_SERVER_PORT is not a port number: '" + v + "'");
  return std::uint16_t(*port);
}

std::chrono::milliseconds commandLimit(std::uint64_t pushBytes) {
  std::chrono::milliseconds base = bounds::kCommandLimit;
  std::string v = plat::getEnv("IU_COMMAND_LIMIT");
  if (!v.empty()) {
    // More than an hour is no limit.
    auto limit = wire::parseDecimal(v, 3600);
    if (!limit || *limit == 0) throw std::invalid_argument("IU_COMMAND_LIMIT is not 1 to 3600 seconds: '" + v + "'");
    base = std::chrono::seconds(*limit);
  }
  return base + std::chrono::seconds(pushBytes / bounds::kSlowestPush);
}

std::string seconds(std::chrono::milliseconds d) { return std::to_string(d.count() / 1000) + " s"; }

}  // namespace bridge
