// Failures as kinds, not texts: the server and the client's own checks say what failed, on
// which TV, and why; the client alone turns that into the user's message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codec.h"

namespace wire {

enum class FailKind : std::uint8_t {
  NoTarget,     // no TV connected
  ManyTargets,  // more than one TV and none chosen
  Unreachable,  // the TV's port did not take the TCP connection
  Handshake,    // the TV took the connection, then no handshake came of it
  Refused,      // the TV refused to open a service
  WriteFailed,  // the TV's FAIL at the end of a file transfer; detail: "'PATH': reason"
  Device,       // the TV broke the protocol, stalled or ran past a limit
  Local,        // this PC's side: a file, a limit, the server
};

struct Failure {
  FailKind kind = FailKind::Local;
  std::string tv;      // the TV's serial (address:port) when one is concerned
  std::string detail;  // what happened, in the user's words
};

// Thrown by the server's device code and by the client's own checks.
class Failed : public Error {
 public:
  explicit Failed(Failure f);
  const Failure& failure() const { return failure_; }

 private:
  Failure failure_;
};

// Between our server and client: "<kind> <tv or -> <detail>", at most kRequestMax bytes (the
// detail is cut to fit).
std::string encodeFailure(const Failure& f);
// The inverse. Text in any other form is kept whole, as a Local failure's detail.
Failure decodeFailure(std::string_view text);

}  // namespace wire
