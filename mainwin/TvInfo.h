// The TV's device-information service (HTTP on port 8001), which answers without developer
// mode: whether developer mode is on and which PC it accepts.
#pragma once

#include <string>

#include "Diagnosis.h"

// Asks http://address:port/api/v2/ within boundMs, dispatching the window's messages meanwhile.
TTvInfo QueryTvInfo(const vcl::String& address, unsigned boundMs = 2000, unsigned short port = 8001);

// Reads a whole HTTP response: the device object of a 200 answer's JSON; any other answer
// (401 and 404 among them) or a body that is not the expected JSON is Unknown.
TTvInfo ParseTvInfo(const std::string& response);
