// The command line of iu: what each invocation means, as pure functions so that the exact
// argument vectors cmd.exe produces can be tested on any platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bridge {

struct Invocation {
  enum class Kind { Help, Version, KillServer, Connect, Devices, Shell, Push, Capability, Server };
  Kind kind = Kind::Help;
  std::string target;         // Connect: address:port, the TV's port when none was given
  std::string shellText;      // Shell: the command text for the TV
  std::string local, remote;  // Push
  std::string readyToken;     // Server: from the client that started it
};

// args excludes the program name. Throws std::invalid_argument with a usage message, also for
// a text the server or the TV would not take (a malformed address, an over-long command).
Invocation parseInvocation(const std::vector<std::string>& args);

// Joins shell arguments by single spaces; an empty argument or one holding a space is wrapped
// in double quotes, the way the TV's shell expects one word.
std::string joinShellArgs(const std::vector<std::string>& args);

std::string usage();

}  // namespace bridge
