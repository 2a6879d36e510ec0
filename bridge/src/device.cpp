#include "device.h"

#include <cstring>

#include "bounds.h"
#include "failure.h"
#include "settings.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

std::string packetLine(std::string_view arrow, const std::string& serial, std::uint32_t command, std::uint32_t arg0,
                       std::uint32_t arg1) {
  return std::string(arrow) + " " + serial + " " + wire::commandName(command) + " " + std::to_string(arg0) + " " +
         std::to_string(arg1);
}

}  // namespace

Device::Device(plat::Socket s, std::string serial, wire::DeviceBanner banner, std::uint32_t maxPayload)
    : sock_(std::move(s)),
      serial_(std::move(serial)),
      model_(std::move(banner.model)),
      locked_(banner.locked),
      maxPayload_(maxPayload) {}

std::unique_ptr<Device> Device::connect(const wire::Ipv4Target& target) {
  const std::string serial = target.serial();
  auto failed = [&](wire::FailKind kind, std::string detail) {
    return wire::Failed({kind, serial, std::move(detail)});
  };
  plat::ConnectFailure failure;
  std::string reason;
  plat::Socket s = plat::connectTcp(target.host, target.port, wire::after(bounds::kDeviceConnect), failure, reason);
  if (!s.valid()) {
    if (failure == plat::ConnectFailure::TimedOut)
      reason = "no answer within " + seconds(bounds::kDeviceConnect) + " (TV off or wrong address?)";
    throw failed(wire::FailKind::Unreachable, reason);
  }
  std::string hello = wire::encodePacket(wire::kCnxn, wire::kHostVersion, wire::kHostMaxPayload,
                                         std::string_view(wire::kHostBanner, sizeof wire::kHostBanner));
  trace::bytes("server", "-> " + serial + " CNXN", hello);
  auto deadline = wire::after(bounds::kHandshake);
  std::optional<wire::Packet> reply;
  try {
    s.writeAll(hello.data(), hello.size(), deadline);
    // A lock-state broadcast may come first: the banner that follows says the state anyway.
    do reply = wire::readPacket(s, wire::kHostMaxPayload, deadline);
    while (reply && reply->command == wire::kStat);
  } catch (const wire::Timeout&) {
    throw failed(wire::FailKind::Handshake, "no handshake reply within " + seconds(bounds::kHandshake));
  } catch (const wire::Error& e) {
    throw failed(wire::FailKind::Handshake, std::string("handshake failed: ") + e.what());
  }
  if (!reply)
    throw failed(wire::FailKind::Handshake,
                 "the TV closed the connection without a handshake (is this PC's address its Host PC IP?)");
  trace::bytes("server", packetLine("<-", serial, reply->command, reply->arg0, reply->arg1), reply->payload);
  if (reply->command != wire::kCnxn)
    throw failed(wire::FailKind::Handshake, "handshake answered with " + wire::commandName(reply->command));
  if (reply->arg1 < wire::kMinMaxPayload)
    throw failed(wire::FailKind::Handshake,
                 "the TV's packet limit of " + std::to_string(reply->arg1) + " bytes is too small");
  wire::DeviceBanner banner;
  try {
    banner = wire::parseDeviceBanner(reply->payload);
  } catch (const wire::Error& e) {
    throw failed(wire::FailKind::Handshake, e.what());
  }
  std::uint32_t limit = std::min(reply->arg1, wire::kHostMaxPayload);
  return std::unique_ptr<Device>(new Device(std::move(s), serial, std::move(banner), limit));
}

void Device::fail(const std::string& detail) const { throw wire::Failed({wire::FailKind::Device, serial_, detail}); }

void Device::write(const char* data, std::size_t size, std::string_view traceLine, std::string_view payload) {
  if (trace::enabled()) trace::bytes("server", traceLine, payload);
  try {
    sock_.writeAll(data, size, wire::after(bounds::kPacketRest));
  } catch (const wire::Timeout&) {
    fail("the TV took no data for " + seconds(bounds::kPacketRest));
  } catch (const wire::Error& e) {
    fail(e.what());
  }
}

void Device::send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view data) {
  // One write, so that the TV reads the packet in one go.
  std::string packet = wire::encodeHeader(command, arg0, arg1, data);
  packet.append(data);
  write(packet.data(), packet.size(), trace::enabled() ? packetLine("->", serial_, command, arg0, arg1) : "", data);
}

void Device::sendWrte(StreamIds ids, std::vector<char>& packet, std::size_t payload, std::uint32_t check) {
  std::string header = wire::encodeHeader(wire::kWrte, ids.local, ids.remote, std::uint32_t(payload), check);
  std::memcpy(packet.data(), header.data(), header.size());
  // Header and payload in one write: one segment on the wire and one system call.
  write(packet.data(), wire::kHeaderSize + payload,
        trace::enabled() ? packetLine("->", serial_, wire::kWrte, ids.local, ids.remote) : "",
        std::string_view(packet.data() + wire::kHeaderSize, payload));
}

wire::Packet Device::readPacket() {
  std::optional<wire::Packet> p;
  try {
    p = wire::readPacket(sock_, wire::kHostMaxPayload, wire::after(bounds::kPacketRest));
  } catch (const wire::Timeout&) {
    fail("the rest of a packet did not come within " + seconds(bounds::kPacketRest));
  } catch (const wire::Error& e) {
    fail(e.what());
  }
  if (!p) fail("the TV closed the connection");
  if (trace::enabled()) trace::bytes("server", packetLine("<-", serial_, p->command, p->arg0, p->arg1), p->payload);
  if (p->command == wire::kCnxn) fail("unexpected handshake from the TV");
  if (p->command == wire::kWrte && p->payload.size() > maxPayload_) fail("the TV sent more than its own packet limit");
  return std::move(*p);
}

Device::Arrival Device::next(std::uint32_t local, wire::Deadline until, plat::Socket* client) {
  while (true) {
    plat::Socket* watch[2] = {&sock_, client};
    int ready;
    try {
      ready = plat::waitAnyReadable(watch, 2, until);
    } catch (const wire::Error& e) {
      fail(e.what());
    }
    if (ready < 0) return {};
    if (ready == 1) return {Arrival::What::Client, {}};
    wire::Packet p = readPacket();
    if (p.command == wire::kStat) {
      locked_ = p.arg0 == 1;
      continue;
    }
    // A late packet of an ended stream, or one for an id we never opened.
    if (p.arg1 != local) continue;
    return {Arrival::What::Packet, std::move(p)};
  }
}

bool Device::alive() {
  if (!sock_.valid()) return false;
  try {
    // Id 0 is never ours: everything is taken in and passed over.
    while (next(0, wire::Clock::now()).what != Arrival::What::Timeout) {
    }
    return true;
  } catch (const wire::Failed& e) {
    trace::note("server", serial_ + " dropped: " + e.what());
    return false;
  }
}

std::optional<StreamIds> Device::open(const std::string& service, wire::Deadline end) {
  const std::uint32_t local = nextId_++;
  std::string payload = service;
  payload.push_back('\0');
  send(wire::kOpen, local, 0, payload);
  auto until = std::min(wire::after(bounds::kOpenReply), end);
  Arrival a = next(local, until);
  if (a.what == Arrival::What::Timeout) fail("no answer to opening the service within " + seconds(bounds::kOpenReply));
  if (a.packet.command == wire::kOkay && a.packet.arg0 != 0) return StreamIds{local, a.packet.arg0};
  if (a.packet.command == wire::kClse) return std::nullopt;
  fail("opening a service answered with " + wire::commandName(a.packet.command));
}

}  // namespace bridge
