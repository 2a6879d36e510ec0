// The client side of every invocation that talks to the background server.
#pragma once

#include <cstdint>

#include "args.h"

namespace bridge {

// Port of the background server: IU_SERVER_PORT, else 26099. Throws std::invalid_argument
// for a value that is not a port number.
std::uint16_t serverPort();

// Runs one invocation against the server (starting it when needed); returns the exit status.
int runClient(const Invocation& inv);

}  // namespace bridge
