// Every wait of the tool on a network peer, in one place. The installer waits for each
// invocation without a limit, so each of these is what keeps a dead, stalled or babbling TV
// from freezing an installation. Each single wait is at most 15 s; a whole command on the TV
// has a limit of its own.
#pragma once

#include <chrono>
#include <cstdint>

namespace bounds {

using std::chrono::milliseconds;

// Client side.
constexpr milliseconds kServerConnect{2000};  // TCP connect to our server on loopback
constexpr milliseconds kServerStart{5000};    // a freshly started server to listen
constexpr milliseconds kServerReply{15000};   // one reply of the server (connect takes <= 10 s)
constexpr milliseconds kStreamIdle{15000};    // a gap in a device stream relayed by the server
constexpr milliseconds kServerExit{5000};     // the server to close after kill-server

// Server side, towards the TV.
constexpr milliseconds kDeviceConnect{5000};  // TCP connect to the TV
constexpr milliseconds kHandshake{5000};      // the TV's CNXN after ours
constexpr milliseconds kOpenReply{5000};      // OKAY or CLSE after our OPEN
constexpr milliseconds kDeviceIdle{12000};    // a packet of the open stream (stall); no other restarts it
constexpr milliseconds kPacketRest{5000};     // the rest of a packet once its first byte came
constexpr milliseconds kCloseReply{2000};     // the TV's CLSE after ours

// One command on the TV, from opening its stream to its end, however the TV keeps it going: a
// shell or capability (an install takes up to 45 s), and a push with its size at the slowest
// rate on top. IU_COMMAND_LIMIT replaces the base (see settings.h).
constexpr milliseconds kCommandLimit{180000};
constexpr std::uint64_t kSlowestPush = 64 * 1024;  // bytes per second

// Server side, towards its clients.
constexpr milliseconds kClientRequest{5000};  // a client's request after it connected
constexpr milliseconds kClientWrite{10000};   // a client to take relayed output
constexpr milliseconds kDeviceBusy{10000};    // another client's stream on the same TV to end

}  // namespace bounds
