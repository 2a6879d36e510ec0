// The TV's device-information service: HTTP, answered with or without developer mode. GET
// /api/v2/ gives JSON whose "device" object holds developerMode and developerIP.
#pragma once

#include <cstdint>
#include <string>

#include "tv.h"

namespace tvsim {

// The JSON a TV answers GET /api/v2/ with; host and port are the service's own.
std::string deviceInfoJson(const Config& c, const std::string& host, std::uint16_t port);

// Answers the HTTP connections of a listening socket, each on a thread of its own, for ever.
void serveDeviceInfo(const Config& c, int listener, std::uint16_t port);

}  // namespace tvsim
