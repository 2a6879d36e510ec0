#include "services.h"

#include <cstring>
#include <optional>
#include <vector>

#include "bounds.h"
#include "failure.h"
#include "frames.h"
#include "settings.h"
#include "stream.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

// The client's side of a service: its replies and frames, and whether it went away.
struct ClientEnd {
  plat::Socket& sock;
  bool gone = false;

  void write(const std::string& bytes) {
    if (gone) return;
    try {
      sock.writeAll(bytes.data(), bytes.size(), wire::after(bounds::kClientWrite));
    } catch (const wire::Error&) {
      gone = true;
    }
  }
  void frame(std::uint32_t tag, std::string_view data) {
    // One write: the client wakes once per frame, not once for its header and again for the data.
    write(wire::frameHeader(tag, std::uint32_t(data.size())).append(data));
  }
  // Reads what made the client readable: the end of its connection, or bytes nobody asked for.
  bool hungUp() {
    char sink[512];
    try {
      gone = sock.readSome(sink, sizeof sink, wire::Clock::now()) == 0;
    } catch (const wire::Error&) {
      gone = true;
    }
    return gone;
  }
};

// Opens service and answers the client OKAY, or FAIL when the TV refuses it or fails to
// answer (then throwing on, for the caller to drop the TV).
std::optional<Stream> openFor(Device& d, ClientEnd& client, const std::string& service, std::chrono::milliseconds limit,
                              const std::string& what) {
  auto end = wire::after(limit);
  std::optional<StreamIds> ids;
  try {
    ids = d.open(service, end);
  } catch (const wire::Failed& e) {
    client.write(wire::kFailText + wire::encodeRequest(wire::encodeFailure(e.failure())));
    throw;
  }
  if (!ids) {
    client.write(wire::kFailText + wire::encodeRequest(wire::encodeFailure({wire::FailKind::Refused, d.serial(), {}})));
    return std::nullopt;
  }
  client.write(wire::kOkayText);
  return std::optional<Stream>(std::in_place, d, *ids, limit, end, what);
}

// After a failure the client has: a stream that only ran past its limit, and then closes, leaves
// the TV usable; anything else throws on.
void endAfter(const wire::Failed& e, Stream& s) {
  trace::note("server", std::string("stream failed: ") + e.what());
  if (!(s.pastLimit() && s.close())) throw e;
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

std::string baseName(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Runs a parser of the TV's answers: what it finds wrong is a fault of this TV.
template <class Parse>
auto parsed(Device& d, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const wire::Failed&) {
    throw;
  } catch (const wire::Error& e) {
    d.fail(e.what());
  }
}

// Progress goes to the client this often, well within its idle bound.
constexpr auto kProgressEvery = std::chrono::seconds(1);

// The sync conversation of a push. Returns the failure for the client, nullopt on success.
// progress gets the bytes sent since its last call; false from it ends the push.
std::optional<wire::Failure> sendFile(Device& d, Stream& s, plat::InputFile& file, std::string remote,
                                      const std::string& local, const std::function<bool(std::uint64_t)>& progress) {
  auto failure = [&](wire::FailKind kind, std::string detail) {
    return wire::Failure{kind, kind == wire::FailKind::Local ? std::string() : d.serial(), std::move(detail)};
  };
  const auto due = wire::Deadline::max();  // the stream's own rule bounds every wait
  std::string stat = wire::syncRequest(wire::kSyncStat, remote);
  s.writeAll(stat.data(), stat.size(), due);
  if ((parsed(d, [&] { return wire::readStatReply(s, due); }) & 0170000) == 0040000) {
    remote += '/';
    remote += baseName(local);
  }
  std::string send = wire::syncRequest(wire::kSyncSend, remote + "," + std::to_string(wire::kRegularFileMode));
  const std::string done = wire::syncHeader(wire::kSyncDone, file.mtime());

  // Two packets: the next one is read from the file while the TV takes the last one. The SEND
  // rides in the first packet and the DONE in the last one when it fits: a small file then
  // costs the TV one packet, not three, each waiting for its ack.
  const std::size_t limit = std::min<std::size_t>(d.maxPayload(), wire::kHostMaxPayload);
  std::vector<char> packets[2] = {std::vector<char>(wire::kHeaderSize + limit),
                                  std::vector<char>(wire::kHeaderSize + limit)};
  int next = 0;
  std::uint64_t unreported = 0;
  auto reported = wire::Clock::now();
  Chunk c = fillPacket(file, packets[next], limit, send);
  bool doneSent = false;
  while (c.payload != 0 && c.error.empty()) {
    if (c.end && limit - c.payload >= done.size()) {
      std::memcpy(packets[next].data() + wire::kHeaderSize + c.payload, done.data(), done.size());
      c.payload += done.size();
      c.check += wire::payloadSum(done);
      doneSent = true;
    }
    // The TV answers mid-transfer only to refuse it: stop sending and read why.
    if (!s.send(packets[next], c.payload, c.check)) break;
    unreported += c.fileBytes;
    // A count that still fits the record's 32 bits, however fast the link.
    if (wire::Clock::now() - reported >= kProgressEvery || unreported >= (1u << 30)) {
      if (!progress(unreported)) return std::nullopt;
      unreported = 0;
      reported = wire::Clock::now();
    }
    if (doneSent) break;
    next ^= 1;
    c = fillPacket(file, packets[next], limit);
  }
  if (unreported != 0 && !progress(unreported)) return std::nullopt;
  if (!c.error.empty()) return failure(wire::FailKind::Local, "cannot read '" + local + "': " + c.error);
  if (!doneSent && !s.answered() && !s.closed()) s.writeAll(done.data(), done.size(), due);

  std::optional<std::string> why = parsed(d, [&] { return wire::readSyncResult(s, due); });
  if (why) return failure(wire::FailKind::WriteFailed, "'" + remote + "': " + *why);
  std::string quit = wire::syncHeader(wire::kSyncQuit, 0);
  s.writeAll(quit.data(), quit.size(), due);
  return std::nullopt;
}

}  // namespace

void relay(Device& d, plat::Socket& client, const std::string& service) {
  ClientEnd out{client};
  std::optional<Stream> s = openFor(d, out, service, commandLimit(), "command");
  if (!s) return;
  try {
    while (true) {
      switch (s->step(out.gone ? nullptr : &client)) {
        case Stream::Event::Data:
          out.frame(wire::kFrameData, s->payload());
          if (out.gone) return void(s->close());
          break;
        case Stream::Event::Acked: break;
        case Stream::Event::Closed: return out.frame(wire::kFrameDone, {});
        case Stream::Event::Client:
          if (out.hungUp()) return void(s->close());
          break;
      }
    }
  } catch (const wire::Failed& e) {
    out.write(wire::failFrame(e.failure()));
    endAfter(e, *s);
  }
}

void push(Device& d, plat::Socket& client, const std::string& remote, const std::string& local, plat::InputFile& file) {
  ClientEnd out{client};
  std::optional<Stream> s = openFor(d, out, "sync:", commandLimit(file.size()), "push");
  if (!s) return;
  try {
    std::optional<wire::Failure> failure = sendFile(d, *s, file, remote, local, [&](std::uint64_t sent) {
      out.frame(wire::kFrameData, wire::pushProgress(std::uint32_t(sent)));
      return !out.gone;
    });
    out.frame(wire::kFrameData, failure ? wire::pushFailed(*failure) : wire::pushDone());
    s->close();
    out.frame(wire::kFrameDone, {});
  } catch (const wire::Failed& e) {
    out.write(wire::failFrame(e.failure()));
    endAfter(e, *s);
  }
}

}  // namespace bridge
