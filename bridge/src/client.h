// The client side of every invocation that talks to the background server.
#pragma once

#include "args.h"

namespace bridge {

// Runs one invocation against the server (starting it when needed); returns the exit status.
int runClient(const Invocation& inv);

}  // namespace bridge
