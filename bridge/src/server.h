// The background server: holds the TV connections between invocations and serves clients on
// 127.0.0.1 until one asks it to stop.
#pragma once

#include <cstdint>
#include <string>

namespace bridge {

// Listens on 127.0.0.1:port, tells the spawning client through readyToken (may be empty) and
// serves until host:kill. Returns only when it cannot listen.
int runServer(std::uint16_t port, const std::string& readyToken);

}  // namespace bridge
