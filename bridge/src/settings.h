// What the environment sets, read the same way by the client and the server it starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace bridge {

// Port of the background server: IU_SERVER_PORT, else 26099. Throws std::invalid_argument
// for a value that is not a port number.
std::uint16_t serverPort();

// How long one command may run on the TV (see bounds.h): IU_COMMAND_LIMIT seconds (1 to 3600)
// in place of the base when set, plus pushBytes at the slowest push rate. Throws
// std::invalid_argument for a value out of range.
std::chrono::milliseconds commandLimit(std::uint64_t pushBytes = 0);

// "N s", as limits are named in messages.
std::string seconds(std::chrono::milliseconds d);

}  // namespace bridge
