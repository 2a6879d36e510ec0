#include "device.h"

#include <cstring>
#include <memory>
#include <vector>

#include "bounds.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

std::string seconds(std::chrono::milliseconds d) { return std::to_string(d.count() / 1000) + " s"; }

void traceIn(const std::string& serial, const wire::Packet& p) {
  if (!trace::enabled()) return;
  trace::bytes("server", "<- " + serial + " " + wire::commandName(p.command) + " " +
                             std::to_string(p.arg0) + " " + std::to_string(p.arg1), p.payload);
}

// Client side of a relay: frames, and the flag that the client went away.
struct ClientEnd {
  plat::Socket& sock;
  bool gone = false;

  void frame(std::uint32_t tag, std::string_view data) {
    if (gone) return;
    try {
      // One write: the client wakes once per frame, not once for its header and again for the data.
      std::string frame = wire::frameHeader(tag, std::uint32_t(data.size()));
      frame.append(data);
      sock.writeAll(frame.data(), frame.size(), wire::after(bounds::kClientWrite));
    } catch (const wire::Error&) {
      gone = true;
    }
  }
};

// Progress of a push goes to the client this often, well within its idle bound.
constexpr auto kProgressEvery = std::chrono::seconds(1);
// Sync answers are a few bytes; a TV that sends more on a push stream is not answering.
constexpr std::size_t kSyncAnswerMax = 64 * 1024;

std::string baseName(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// One WRTE payload of sync DATA records read from a file, behind room for the packet header.
struct Chunk {
  std::size_t payload = 0, fileBytes = 0;
  std::uint32_t check = 0;
  std::string error;  // why the file could not be read
  bool end = false;   // the file ended within this payload
};

// Fills a packet with `lead` (records to go first, e.g. the SEND) and then DATA records.
Chunk fillPacket(plat::InputFile& f, std::vector<char>& packet, std::size_t limit, std::string_view lead = {}) {
  Chunk c;
  char* base = packet.data() + wire::kHeaderSize;
  std::memcpy(base, lead.data(), lead.size());
  c.payload = lead.size();
  c.check = wire::payloadSum(lead);
  while (limit - c.payload > wire::kSyncHeaderSize) {
    std::size_t want = std::min<std::size_t>(wire::kSyncDataMax, limit - c.payload - wire::kSyncHeaderSize);
    char* record = base + c.payload;
    std::size_t got = 0;
    try {
      // A short read is no end: only 0 is.
      while (got < want) {
        std::size_t n = f.read(record + wire::kSyncHeaderSize + got, want - got);
        if (n == 0) break;
        got += n;
      }
    } catch (const wire::Error& e) {
      c.error = e.what();
      break;
    }
    if (got == 0) {
      c.end = true;
      break;
    }
    std::string head = wire::syncHeader(wire::kSyncData, std::uint32_t(got));
    std::memcpy(record, head.data(), head.size());
    // Summed while the bytes just read are still in the cache.
    c.check += wire::payloadSum(std::string_view(record, head.size() + got));
    c.payload += head.size() + got;
    c.fileBytes += got;
    if (got < want) {
      c.end = true;
      break;
    }
  }
  return c;
}

}  // namespace

Device::Device(plat::Socket s, std::string serial, wire::DeviceBanner banner,
               std::uint32_t maxPayload)
    : sock_(std::move(s)), serial_(std::move(serial)), model_(std::move(banner.model)),
      locked_(banner.locked), maxPayload_(maxPayload) {}

std::unique_ptr<Device> Device::connect(const wire::Ipv4Target& target, bool& refusedOrOff) {
  refusedOrOff = false;
  plat::ConnectFailure failure;
  std::string reason;
  plat::Socket s = plat::connectTcp(target.host, target.port, wire::after(bounds::kDeviceConnect),
                                    failure, reason);
  if (!s.valid()) {
    refusedOrOff = true;
    if (failure == plat::ConnectFailure::TimedOut)
      reason = "no answer within " + seconds(bounds::kDeviceConnect) + " (TV off or wrong address?)";
    throw wire::Error(reason);
  }
  std::string serial = target.serial();
  std::string hello = wire::encodePacket(wire::kCnxn, wire::kHostVersion, wire::kHostMaxPayload,
                                         std::string_view(wire::kHostBanner, sizeof wire::kHostBanner));
  trace::bytes("server", "-> " + serial + " CNXN", hello);
  auto deadline = wire::after(bounds::kHandshake);
  std::optional<wire::Packet> reply;
  try {
    s.writeAll(hello.data(), hello.size(), deadline);
    reply = wire::readPacket(s, wire::kHostMaxPayload, deadline);
  } catch (const wire::Error& e) {
    if (wire::Clock::now() >= deadline)
      throw wire::Error("no handshake reply within " + seconds(bounds::kHandshake));
    throw wire::Error(std::string("handshake failed: ") + e.what());
  }
  if (!reply)
    throw wire::Error(
        "the TV closed the connection without a handshake (is this PC's address its Host PC IP?)");
  traceIn(serial, *reply);
  if (reply->command != wire::kCnxn)
    throw wire::Error("handshake answered with " + wire::commandName(reply->command));
  if (reply->arg1 < wire::kMinMaxPayload)
    throw wire::Error("the TV's packet limit of " + std::to_string(reply->arg1) + " bytes is too small");
  std::uint32_t limit = std::min(reply->arg1, wire::kHostMaxPayload);
  wire::DeviceBanner banner = wire::parseDeviceBanner(reply->payload);
  return std::unique_ptr<Device>(new Device(std::move(s), serial, std::move(banner), limit));
}

void Device::send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1,
                  std::string_view data) {
  std::string header = wire::encodeHeader(command, arg0, arg1, data);
  if (trace::enabled())
    trace::bytes("server", "-> " + serial_ + " " + wire::commandName(command) + " " +
                               std::to_string(arg0) + " " + std::to_string(arg1), data);
  // One write, so that the TV reads the packet in one go.
  header.append(data);
  sock_.writeAll(header.data(), header.size(), wire::after(bounds::kPacketRest));
}

std::optional<wire::Packet> Device::receive(wire::Deadline firstByte) {
  while (true) {
    if (!sock_.waitReadable(firstByte)) throw wire::Error("timed out waiting for the TV");
    auto p = wire::readPacket(sock_, wire::kHostMaxPayload, wire::after(bounds::kPacketRest));
    if (!p) return std::nullopt;
    traceIn(serial_, *p);
    if (p->command == wire::kStat) {
      locked_ = p->arg0 == 1;
      continue;
    }
    if (p->command == wire::kCnxn) throw wire::Error("unexpected handshake from the TV");
    if (p->payload.size() > maxPayload_ && p->command == wire::kWrte)
      throw wire::Error("the TV sent more than its own packet limit");
    return p;
  }
}

bool Device::alive() {
  if (!sock_.valid()) return false;
  try {
    while (sock_.waitReadable(wire::Clock::now())) {
      auto p = receive(wire::Clock::now());
      if (!p) return false;
      // Anything but the lock state between streams is a late packet of an ended stream.
    }
    return true;
  } catch (const wire::Error& e) {
    trace::note("server", serial_ + " dropped: " + e.what());
    return false;
  }
}

std::optional<std::uint32_t> Device::open(const std::string& service) {
  std::uint32_t local = nextId_++;
  std::string payload = service;
  payload.push_back('\0');
  send(wire::kOpen, local, 0, payload);
  auto deadline = wire::after(bounds::kOpenReply);
  while (true) {
    std::optional<wire::Packet> p;
    try {
      p = receive(deadline);
    } catch (const wire::Error& e) {
      if (wire::Clock::now() >= deadline)
        throw wire::Error("no answer to opening the service within " + seconds(bounds::kOpenReply));
      throw;
    }
    if (!p) throw wire::Error("the TV closed the connection");
    if (p->arg1 != local) continue;  // a late packet of an earlier stream
    if (p->command == wire::kOkay && p->arg0 != 0) return p->arg0;
    if (p->command == wire::kClse) return std::nullopt;
    throw wire::Error("opening a service answered with " + wire::commandName(p->command));
  }
}

void Device::closeStream(std::uint32_t local, std::uint32_t remote) {
  send(wire::kClse, local, remote, {});
  auto deadline = wire::after(bounds::kCloseReply);
  try {
    while (true) {
      auto p = receive(deadline);
      if (!p || (p->command == wire::kClse && p->arg1 == local)) return;
      if (p->command == wire::kWrte && p->arg1 == local) send(wire::kOkay, local, remote, {});
    }
  } catch (const wire::Error&) {
    // A TV that does not confirm the close gets no more of this stream either way.
  }
}

std::optional<std::uint32_t> Device::openFor(plat::Socket& client, const std::string& service) {
  std::optional<std::uint32_t> remote;
  try {
    remote = open(service);
  } catch (const wire::Error& e) {
    std::string why = "device " + serial_ + ": " + e.what();
    std::string reply = wire::kFailText + wire::encodeRequest(why);
    client.writeAll(reply.data(), reply.size(), wire::after(bounds::kClientWrite));
    throw wire::Error(why);
  }
  if (!remote) {
    std::string reply = wire::kFailText + wire::encodeRequest("closed (" + serial_ + " refused the service)");
    client.writeAll(reply.data(), reply.size(), wire::after(bounds::kClientWrite));
    return std::nullopt;
  }
  client.writeAll(wire::kOkayText, 4, wire::after(bounds::kClientWrite));
  return remote;
}

void Device::relay(plat::Socket& client, const std::string& service) {
  ClientEnd out{client};
  std::uint32_t local = nextId_;
  std::optional<std::uint32_t> remote = openFor(client, service);
  if (!remote) return;

  // One packet read ahead from the client while the TV has not acked the last one: the TV
  // sees at most one unacked WRTE, and the server holds one packet of the stream in memory.
  std::vector<char> buf(maxPayload_);
  std::size_t pending = 0;
  bool unacked = false;
  try {
    while (true) {
      if (pending != 0 && !unacked) {
        send(wire::kWrte, local, *remote, std::string_view(buf.data(), pending));
        pending = 0;
        unacked = true;
      }
      plat::Socket* watch[2] = {&sock_, (!out.gone && pending == 0) ? &client : nullptr};
      int ready = plat::waitAnyReadable(watch, 2, wire::after(bounds::kDeviceIdle));
      if (ready < 0)
        throw wire::Error("device " + serial_ + ": no data from the TV for " + seconds(bounds::kDeviceIdle));
      if (ready == 1) {
        std::size_t n = 0;
        try {
          n = client.readSome(buf.data(), buf.size(), wire::Clock::now());
        } catch (const wire::Error&) {
          out.gone = true;
        }
        if (n == 0) {
          out.gone = true;
          closeStream(local, *remote);
          return;
        }
        pending = n;
        continue;
      }
      auto p = receive(wire::Clock::now());
      if (!p) throw wire::Error("device " + serial_ + ": the TV closed the connection");
      if (p->arg1 != local) continue;
      switch (p->command) {
        case wire::kWrte:
          // Ack first: the TV holds its next output until then, and the client write overlaps.
          send(wire::kOkay, local, *remote, {});
          out.frame(wire::kFrameData, p->payload);
          break;
        case wire::kOkay:
          unacked = false;
          break;
        case wire::kClse:
          send(wire::kClse, local, *remote, {});
          out.frame(wire::kFrameDone, {});
          return;
        default:
          throw wire::Error("device " + serial_ + ": unexpected " + wire::commandName(p->command) + " in a stream");
      }
      if (out.gone) {
        closeStream(local, *remote);
        return;
      }
    }
  } catch (const wire::Error& e) {
    std::string why = e.what();
    if (why.rfind("device ", 0) != 0) why = "device " + serial_ + ": " + why;
    out.frame(wire::kFrameFail, why.substr(0, wire::kRequestMax));
    throw wire::Error(why);
  }
}

void Device::step(Stream& s) {
  while (true) {
    if (!sock_.waitReadable(wire::after(bounds::kDeviceIdle)))
      throw wire::Error("device " + serial_ + ": no data from the TV for " + seconds(bounds::kDeviceIdle));
    auto p = receive(wire::Clock::now());
    if (!p) throw wire::Error("device " + serial_ + ": the TV closed the connection");
    if (p->arg1 != s.local) continue;
    switch (p->command) {
      case wire::kOkay:
        s.unacked = false;
        return;
      case wire::kWrte:
        send(wire::kOkay, s.local, s.remote, {});
        if (s.inbox.size() + p->payload.size() > kSyncAnswerMax)
          throw wire::Error("device " + serial_ + ": the TV sent more than an answer to a file transfer");
        s.inbox += p->payload;
        return;
      case wire::kClse:
        s.closed = true;
        return;
      default:
        throw wire::Error("device " + serial_ + ": unexpected " + wire::commandName(p->command) + " in a stream");
    }
  }
}

void Device::write(Stream& s, std::vector<char>& packet, std::size_t payload, std::uint32_t check) {
  while (s.unacked && !s.closed) step(s);
  if (s.closed) throw wire::Error("device " + serial_ + ": the TV closed the transfer");
  std::string header = wire::encodeHeader(wire::kWrte, s.local, s.remote, std::uint32_t(payload), check);
  std::memcpy(packet.data(), header.data(), header.size());
  if (trace::enabled())
    trace::bytes("server", "-> " + serial_ + " WRTE " + std::to_string(s.local) + " " + std::to_string(s.remote),
                 std::string_view(packet.data() + wire::kHeaderSize, payload));
  // Header and payload in one write: one segment on the wire and one system call.
  sock_.writeAll(packet.data(), wire::kHeaderSize + payload, wire::after(bounds::kPacketRest));
  s.unacked = true;
}

void Device::write(Stream& s, const std::string& payload) {
  std::vector<char> packet(wire::kHeaderSize + payload.size());
  std::memcpy(packet.data() + wire::kHeaderSize, payload.data(), payload.size());
  write(s, packet, payload.size(), wire::payloadSum(payload));
}

std::optional<std::string> Device::read(Stream& s, std::size_t n) {
  while (s.inbox.size() < n && !s.closed) step(s);
  if (s.inbox.size() < n) return std::nullopt;
  std::string out = s.inbox.substr(0, n);
  s.inbox.erase(0, n);
  return out;
}

std::string Device::sendFile(Stream& s, plat::InputFile& file, std::string remote, const std::string& local,
                             const std::function<bool(std::uint64_t)>& progress) {
  write(s, wire::syncRequest(wire::kSyncStat, remote));
  auto stat = read(s, wire::kSyncStatReplySize);
  if (!stat || wire::le32(stat->data()) != wire::kSyncStat) throw wire::Error("malformed answer to STAT");
  if ((wire::le32(stat->data() + 4) & 0170000) == 0040000) {
    remote += '/';
    remote += baseName(local);
  }
  std::string send = wire::syncRequest(wire::kSyncSend, remote + "," + std::to_string(wire::kRegularFileMode));
  const std::string done = wire::syncHeader(wire::kSyncDone, file.mtime());

  // Two packets: the next one is read from the file while the TV takes the last one. The SEND
  // rides in the first packet and the DONE in the last one when it fits: a small file then
  // costs the TV one packet, not three, each waiting for its ack.
  const std::size_t limit = std::min<std::size_t>(maxPayload_, wire::kHostMaxPayload);
  std::vector<char> packets[2] = {std::vector<char>(wire::kHeaderSize + limit),
                                  std::vector<char>(wire::kHeaderSize + limit)};
  int next = 0;
  std::uint64_t unreported = 0;
  auto reported = wire::Clock::now();
  Chunk c = fillPacket(file, packets[next], limit, send);
  bool answeredEarly = false, doneSent = false;
  while (c.payload != 0 && c.error.empty()) {
    while (s.unacked && s.inbox.empty() && !s.closed) step(s);
    // The TV answers mid-transfer only to refuse it; stop sending and read why.
    if (!s.inbox.empty() || s.closed) {
      answeredEarly = true;
      break;
    }
    if (c.end && limit - c.payload >= done.size()) {
      std::memcpy(packets[next].data() + wire::kHeaderSize + c.payload, done.data(), done.size());
      c.payload += done.size();
      c.check += wire::payloadSum(done);
      doneSent = true;
    }
    write(s, packets[next], c.payload, c.check);
    unreported += c.fileBytes;
    // A count that still fits the record's 32 bits, however fast the link.
    if (wire::Clock::now() - reported >= kProgressEvery || unreported >= (1u << 30)) {
      if (!progress(unreported)) return {};
      unreported = 0;
      reported = wire::Clock::now();
    }
    if (doneSent) break;
    next ^= 1;
    c = fillPacket(file, packets[next], limit);
  }
  if (unreported != 0 && !progress(unreported)) return {};
  if (!c.error.empty()) return "cannot read '" + local + "': " + c.error;
  if (!answeredEarly && !doneSent) write(s, done);

  auto answer = read(s, wire::kSyncHeaderSize);
  if (!answer) return "failed to close '" + remote + "': the TV ended the transfer";
  std::uint32_t id = wire::le32(answer->data()), value = wire::le32(answer->data() + 4);
  if (id == wire::kSyncOkay) {
    write(s, wire::syncHeader(wire::kSyncQuit, 0));
    return {};
  }
  if (id != wire::kSyncFail || value > wire::kSyncFailMax)
    throw wire::Error("malformed answer to a file transfer");
  auto why = read(s, value);
  if (!why) throw wire::Error("the TV ended the transfer");
  return "failed to close '" + remote + "': " + *why;
}

void Device::push(plat::Socket& client, const std::string& remote, const std::string& local,
                  plat::InputFile& file) {
  std::uint32_t localId = nextId_;
  std::optional<std::uint32_t> remoteId = openFor(client, "sync:");
  if (!remoteId) return;
  ClientEnd out{client};
  Stream s{localId, *remoteId, false, false, {}};
  try {
    std::string error = sendFile(s, file, remote, local, [&](std::uint64_t sent) {
      out.frame(wire::kFrameData, wire::syncHeader(wire::kSyncData, std::uint32_t(sent)));
      return !out.gone;
    });
    out.frame(wire::kFrameData, error.empty() ? wire::syncHeader(wire::kSyncOkay, 0)
                                              : wire::syncRequest(wire::kSyncFail, error.substr(0, wire::kRequestMax)));
    if (s.closed)
      send(wire::kClse, s.local, s.remote, {});
    else
      closeStream(s.local, s.remote);
    out.frame(wire::kFrameDone, {});
  } catch (const wire::Error& e) {
    std::string why = e.what();
    if (why.rfind("device ", 0) != 0) why = "device " + serial_ + ": " + why;
    out.frame(wire::kFrameFail, why.substr(0, wire::kRequestMax));
    throw wire::Error(why);
  }
}

}  // namespace bridge
