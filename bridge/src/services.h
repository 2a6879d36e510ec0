// The device services the server runs for a client on a claimed TV: a relayed stream (shell,
// capability) and a push. Each answers the client OKAY or FAIL, then sends frames (wire.h).
// Each ends by the command's limit at the latest. A TV that stalls or breaks the protocol
// throws wire::Failed after the client has the failure; the caller then drops the TV. A TV
// that only ran past the limit and then closed the stream cleanly is kept.
#pragma once

#include <string>

#include "device.h"
#include "platform.h"

namespace bridge {

void relay(Device& device, plat::Socket& client, const std::string& service);

// Sends the open local file to remote on the TV through its sync service (see "push:" in
// wire.h). The file is read in packet-sized pieces, never whole.
void push(Device& device, plat::Socket& client, const std::string& remote, const std::string& local,
          plat::InputFile& file);

}  // namespace bridge
