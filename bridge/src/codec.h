// The shared codec: packets of the TV's transport, the sync sub-protocol, the client/server
// request framing and the server's stream frames. Pure byte work over an abstract stream, so the
// tool, tvsim, the tests and the fuzz target all run the very same parser.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "wire.h"

namespace wire {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline after(std::chrono::milliseconds d) { return Clock::now() + d; }
// Milliseconds until the deadline, 0 once passed, as the OS wait calls take them.
int millisecondsLeft(Deadline deadline);

// Any failure on or of the wire: the message says what went wrong in words a user can act on.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A deadline passed before the peer sent or took what was due; the caller names the limit.
class Timeout : public Error {
 public:
  using Error::Error;
};

// A byte stream with deadlines. readSome returns 0 only at end of stream and throws Error on a
// passed deadline or an OS error; writeAll writes everything or throws.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual std::size_t readSome(void* buf, std::size_t len, Deadline deadline) = 0;
  virtual void writeAll(const void* buf, std::size_t len, Deadline deadline) = 0;
};

// Reads exactly len bytes. Returns false when the stream ends before the first byte; an end
// after some bytes throws Error ("closed after N of M bytes").
bool readExactly(ByteStream& s, void* buf, std::size_t len, Deadline deadline);

std::uint32_t le32(const void* p);
// value as exactly `digits` lowercase hex digits, zero-padded (the low digits if it has more).
std::string hexDigits(std::uint64_t value, int digits);
void putLe32(std::string& out, std::uint32_t v);
std::string commandName(std::uint32_t command);

// --- Transport packets ---
struct Packet {
  std::uint32_t command = 0;
  std::uint32_t arg0 = 0;
  std::uint32_t arg1 = 0;
  std::string payload;
};

std::uint32_t payloadSum(std::string_view payload);
std::string encodePacket(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload);
// The 24-byte header alone, for a sender that writes a large payload without copying it.
std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload);
// The same for a payload whose length and payloadSum the sender already knows.
std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::uint32_t length,
                         std::uint32_t check);

struct PacketHeader {
  std::uint32_t command, arg0, arg1, length, check;
};
// Checks command, magic and length (at most maxPayload). Throws Error naming the fault.
PacketHeader decodeHeader(const unsigned char* header, std::uint32_t maxPayload);
// Checks the payload against the header's data_check (zero is refused for a non-empty payload).
void checkPayload(const PacketHeader& h, std::string_view payload);
// One whole packet; nullopt at a clean end of stream before its first byte.
std::optional<Packet> readPacket(ByteStream& s, std::uint32_t maxPayload, Deadline deadline);

struct DeviceBanner {
  std::string model;
  bool locked = false;
};
// "device::<model>::<lock>" with an optional NUL; tolerant of a missing lock field.
DeviceBanner parseDeviceBanner(std::string_view payload);
std::string deviceBanner(std::string_view model, bool locked);

// --- Request framing between client and server: 4 hex digits, then the payload ---
// Throws Error for a payload over kRequestMax, which four digits and the server refuse.
std::string encodeRequest(std::string_view payload);
// Exactly four hex digits; nullopt for anything else.
std::optional<std::size_t> parseHex4(std::string_view digits);
// One framed text (request, or the text after OKAY/FAIL); nullopt at a clean end of stream.
std::optional<std::string> readFramedText(ByteStream& s, Deadline deadline);

enum class RequestKind { Kill, Devices, Connect, TransportAny, Shell, Capability, Push };
struct Request {
  RequestKind kind = RequestKind::Kill;
  std::string arg;  // Connect: "a.b.c.d:port"; Shell: the command text; Push: the remote path
};
// Strict: known request, well-formed argument. Throws Error with the reason otherwise.
Request parseRequest(std::string_view text);

// Decimal digits only, at most five, up to max.
std::optional<unsigned> parseDecimal(std::string_view s, unsigned max);

struct Ipv4Target {
  std::string host;  // dotted quad as written
  std::uint16_t port = kDevicePort;
  std::string serial() const { return host + ":" + std::to_string(port); }
};
// "a.b.c.d" or "a.b.c.d:port", each part a decimal number in range.
std::optional<Ipv4Target> parseTarget(std::string_view text);

// --- Sync sub-protocol ---
std::string syncHeader(std::uint32_t id, std::uint32_t value);
std::string syncRequest(std::uint32_t id, std::string_view data);
// The TV's answer to STAT: the remote path's mode (0 when absent). Throws Error when it is
// malformed or cut short.
std::uint32_t readStatReply(ByteStream& s, Deadline deadline);
// The TV's answer to DONE: nullopt for OKAY, else why the file was not written (its FAIL text,
// or that it ended the transfer without an answer). Throws Error for a malformed answer.
std::optional<std::string> readSyncResult(ByteStream& s, Deadline deadline);

}  // namespace wire
