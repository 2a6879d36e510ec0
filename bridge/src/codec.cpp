#include "codec.h"

#include <climits>
#include <cstring>

#include "wire.h"

namespace wire {

int millisecondsLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : int(left.count());
}

bool readExactly(ByteStream& s, void* buf, std::size_t len, Deadline deadline) {
  auto* p = static_cast<unsigned char*>(buf);
  std::size_t got = 0;
  while (got < len) {
    std::size_t n = s.readSome(p + got, len - got, deadline);
    if (n == 0) {
      if (got == 0) return false;
      throw Error("closed after " + std::to_string(got) + " of " + std::to_string(len) + " bytes");
    }
    got += n;
  }
  return true;
}

std::uint32_t le32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

std::string hexDigits(std::uint64_t value, int digits) {
  std::string out(std::size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[std::size_t(i)] = "0123456789abcdef"[value & 0xf];
  return out;
}

void putLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

std::string commandName(std::uint32_t command) {
  switch (command) {
    case kCnxn: return "CNXN";
    case kOpen: return "OPEN";
    case kOkay: return "OKAY";
    case kWrte: return "WRTE";
    case kClse: return "CLSE";
    case kStat: return "STAT";
  }
  return "0x" + hexDigits(command, 8);
}

std::uint32_t payloadSum(std::string_view payload) {
  // Eight bytes at a time, added as four 16-bit lanes: a push sums every byte twice on its way,
  // and a byte-wise loop is slower than the loopback copy itself.
  constexpr std::uint64_t kLanes = 0x00ff00ff00ff00ffull;
  const char* p = payload.data();
  std::size_t n = payload.size();
  std::uint64_t total = 0;
  while (n >= 8) {
    std::uint64_t lanes = 0;
    // 128 words add at most 128 * 510 per lane, within 16 bits.
    for (int i = 0; i < 128 && n >= 8; ++i, p += 8, n -= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      lanes += (w & kLanes) + ((w >> 8) & kLanes);
    }
    total += (lanes & 0xffff) + ((lanes >> 16) & 0xffff) + ((lanes >> 32) & 0xffff) + (lanes >> 48);
  }
  for (; n > 0; --n) total += static_cast<unsigned char>(*p++);
  return std::uint32_t(total);
}

std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::uint32_t length,
                         std::uint32_t check) {
  std::string out;
  out.reserve(kHeaderSize);
  putLe32(out, command);
  putLe32(out, arg0);
  putLe32(out, arg1);
  putLe32(out, length);
  putLe32(out, check);
  putLe32(out, command ^ 0xffffffffu);
  return out;
}

std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload) {
  return encodeHeader(command, arg0, arg1, std::uint32_t(payload.size()), payloadSum(payload));
}

std::string encodePacket(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload) {
  return encodeHeader(command, arg0, arg1, payload).append(payload);
}

PacketHeader decodeHeader(const unsigned char* header, std::uint32_t maxPayload) {
  PacketHeader h{le32(header), le32(header + 4), le32(header + 8), le32(header + 12), le32(header + 16)};
  std::uint32_t magic = le32(header + 20);
  if (magic != (h.command ^ 0xffffffffu)) throw Error("bad packet magic");
  switch (h.command) {
    case kCnxn:
    case kOpen:
    case kOkay:
    case kWrte:
    case kClse:
    case kStat: break;
    default: throw Error("unknown packet command " + commandName(h.command));
  }
  if (h.length > maxPayload)
    throw Error("packet payload of " + std::to_string(h.length) + " bytes exceeds the limit of " +
                std::to_string(maxPayload));
  return h;
}

void checkPayload(const PacketHeader& h, std::string_view payload) {
  if (!payload.empty() && (h.check == 0 || h.check != payloadSum(payload)))
    throw Error("bad payload checksum in " + commandName(h.command));
}

std::optional<Packet> readPacket(ByteStream& s, std::uint32_t maxPayload, Deadline deadline) {
  unsigned char header[kHeaderSize];
  if (!readExactly(s, header, sizeof header, deadline)) return std::nullopt;
  PacketHeader h = decodeHeader(header, maxPayload);
  Packet p{h.command, h.arg0, h.arg1, std::string(h.length, '\0')};
  if (h.length != 0 && !readExactly(s, p.payload.data(), h.length, deadline))
    throw Error("closed after a packet header");
  checkPayload(h, p.payload);
  return p;
}

DeviceBanner parseDeviceBanner(std::string_view payload) {
  if (!payload.empty() && payload.back() == '\0') payload.remove_suffix(1);
  std::string_view prefix = kDeviceBannerPrefix;
  if (payload.substr(0, prefix.size()) != prefix) throw Error("handshake without a device banner");
  payload.remove_prefix(prefix.size());
  DeviceBanner b;
  std::size_t sep = payload.find("::");
  b.model = std::string(payload.substr(0, sep));
  if (sep != std::string_view::npos) b.locked = payload.substr(sep + 2) == "1";
  for (unsigned char c : b.model)
    if (c < 0x20 || c == 0x7f) throw Error("device banner holds a control character");
  return b;
}

std::string deviceBanner(std::string_view model, bool locked) {
  std::string s = kDeviceBannerPrefix;
  s.append(model);
  s.append(locked ? "::1" : "::0");
  s.push_back('\0');
  return s;
}

std::string encodeRequest(std::string_view payload) {
  if (payload.size() > kRequestMax)
    throw Error("a request of " + std::to_string(payload.size()) + " bytes exceeds the limit of " +
                std::to_string(kRequestMax));
  return hexDigits(payload.size(), 4).append(payload);
}

std::optional<std::size_t> parseHex4(std::string_view digits) {
  if (digits.size() != 4) return std::nullopt;
  std::size_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v * 16 + std::size_t(d);
  }
  return v;
}

std::optional<std::string> readFramedText(ByteStream& s, Deadline deadline) {
  char digits[4];
  if (!readExactly(s, digits, 4, deadline)) return std::nullopt;
  auto len = parseHex4(std::string_view(digits, 4));
  if (!len) throw Error("length is not four hex digits");
  if (*len > kRequestMax) throw Error("length " + std::to_string(*len) + " exceeds " + std::to_string(kRequestMax));
  std::string text(*len, '\0');
  if (*len != 0 && !readExactly(s, text.data(), *len, deadline)) throw Error("closed after a length");
  return text;
}

std::optional<unsigned> parseDecimal(std::string_view s, unsigned max) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  unsigned v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + unsigned(c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

}  // namespace

std::optional<Ipv4Target> parseTarget(std::string_view text) {
  Ipv4Target t;
  std::string_view host = text;
  std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    host = text.substr(0, colon);
    auto port = parseDecimal(text.substr(colon + 1), 65535);
    if (!port || *port == 0) return std::nullopt;
    t.port = std::uint16_t(*port);
  }
  int parts = 0;
  std::size_t pos = 0;
  while (true) {
    std::size_t dot = host.find('.', pos);
    std::string_view part = host.substr(pos, dot == std::string_view::npos ? dot : dot - pos);
    if (part.size() > 3 || !parseDecimal(part, 255)) return std::nullopt;
    ++parts;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  t.host = std::string(host);
  return t;
}

Request parseRequest(std::string_view text) {
  if (text == "host:kill") return {RequestKind::Kill, {}};
  if (text == "host:devices") return {RequestKind::Devices, {}};
  if (text == "host:transport-any") return {RequestKind::TransportAny, {}};
  if (text == "capability:") return {RequestKind::Capability, {}};
  if (startsWith(text, "host:connect:")) {
    std::string_view target = text.substr(13);
    if (!parseTarget(target)) throw Error("not an IPv4 address and port: '" + std::string(target) + "'");
    return {RequestKind::Connect, std::string(target)};
  }
  if (startsWith(text, "push:")) {
    std::string_view remote = text.substr(5);
    if (remote.empty() || remote.size() > kSyncPathMax || remote.find('\0') != std::string_view::npos)
      throw Error("not a remote path of 1 to " + std::to_string(kSyncPathMax) + " bytes");
    return {RequestKind::Push, std::string(remote)};
  }
  if (startsWith(text, "shell:")) {
    std::string_view command = text.substr(6);
    if (command.empty()) throw Error("interactive shell is not supported");
    for (unsigned char c : command)
      if (c == 0) throw Error("shell command holds a NUL byte");
    return {RequestKind::Shell, std::string(command)};
  }
  throw Error("unknown request");
}

std::string syncHeader(std::uint32_t id, std::uint32_t value) {
  std::string out;
  putLe32(out, id);
  putLe32(out, value);
  return out;
}

std::string syncRequest(std::uint32_t id, std::string_view data) {
  std::string out = syncHeader(id, std::uint32_t(data.size()));
  out.append(data);
  return out;
}

std::uint32_t readStatReply(ByteStream& s, Deadline deadline) {
  unsigned char reply[kSyncStatReplySize];
  if (!readExactly(s, reply, sizeof reply, deadline) || le32(reply) != kSyncStat)
    throw Error("malformed answer to STAT");
  return le32(reply + 4);
}

std::optional<std::string> readSyncResult(ByteStream& s, Deadline deadline) {
  unsigned char head[kSyncHeaderSize];
  if (!readExactly(s, head, sizeof head, deadline)) return "the TV ended the transfer without an answer";
  std::uint32_t id = le32(head), value = le32(head + 4);
  if (id == kSyncOkay) return std::nullopt;
  if (id != kSyncFail || value > kSyncFailMax) throw Error("malformed answer to a file transfer");
  std::string why(value, '\0');
  if (value != 0 && !readExactly(s, why.data(), value, deadline)) throw Error("the TV ended its answer early");
  return why;
}

}  // namespace wire
