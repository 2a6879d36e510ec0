// One PC connection to the simulated TV: the device side of the transport, its streams, and
// the shell, sync and capability services.
#pragma once

#include "tv.h"

namespace tvsim {

// Serves one accepted TCP connection until the PC closes it or breaks the protocol.
void serveLink(Tv& tv, int fd);

}  // namespace tvsim
