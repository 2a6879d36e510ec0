#include "stream.h"

#include <algorithm>
#include <cstring>

#include "bounds.h"
#include "failure.h"
#include "settings.h"
#include "wire.h"

namespace bridge {

namespace {

// Answers on a stream the server reads itself (sync) are a few bytes; a TV that sends more
// than this unread is not answering.
constexpr std::size_t kAnswerMax = 64 * 1024;

}  // namespace

Stream::Stream(Device& device, StreamIds ids, std::chrono::milliseconds limit, wire::Deadline end, std::string what)
    : device_(device),
      ids_(ids),
      limit_(limit),
      end_(end),
      what_(std::move(what)),
      stallAt_(wire::after(bounds::kDeviceIdle)) {}

Stream::Event Stream::step(plat::Socket* client) {
  Device::Arrival a = device_.next(ids_.local, std::min(stallAt_, end_), client);
  if (a.what == Device::Arrival::What::Client) return Event::Client;
  if (a.what == Device::Arrival::What::Timeout) {
    // Which deadline it was, by the deadlines themselves: a wait may end a little early.
    if (end_ <= stallAt_) {
      pastLimit_ = true;
      device_.fail("the " + what_ + " ran longer than its limit of " + seconds(limit_));
    }
    device_.fail("no data from the TV for " + seconds(bounds::kDeviceIdle));
  }
  stallAt_ = wire::after(bounds::kDeviceIdle);
  packet_ = std::move(a.packet);
  switch (packet_.command) {
    case wire::kWrte:
      // Ack first: the TV holds its next output until then, and our own work overlaps.
      device_.send(wire::kOkay, ids_.local, ids_.remote, {});
      return Event::Data;
    case wire::kOkay: unacked_ = false; return Event::Acked;
    case wire::kClse:
      closed_ = true;
      device_.send(wire::kClse, ids_.local, ids_.remote, {});
      return Event::Closed;
  }
  device_.fail("unexpected " + wire::commandName(packet_.command) + " in a stream");
}

void Stream::pull() {
  if (step() != Event::Data) return;
  if (inbox_.size() + payload().size() > kAnswerMax) device_.fail("the TV sent more than an answer");
  inbox_ += payload();
}

std::size_t Stream::readSome(void* buf, std::size_t len, wire::Deadline) {
  while (inbox_.empty() && !closed_) pull();
  std::size_t n = std::min(len, inbox_.size());
  std::memcpy(buf, inbox_.data(), n);
  inbox_.erase(0, n);
  return n;
}

bool Stream::send(std::vector<char>& packet, std::size_t payload, std::uint32_t check) {
  while (unacked_ && inbox_.empty() && !closed_) pull();
  if (!inbox_.empty() || closed_) return false;
  device_.sendWrte(ids_, packet, payload, check);
  unacked_ = true;
  return true;
}

void Stream::writeAll(const void* buf, std::size_t len, wire::Deadline) {
  std::vector<char> packet(wire::kHeaderSize + len);
  std::memcpy(packet.data() + wire::kHeaderSize, buf, len);
  if (!send(packet, len, wire::payloadSum(std::string_view(packet.data() + wire::kHeaderSize, len))))
    device_.fail(closed_ ? "the TV closed the stream" : "the TV answered before it was asked");
}

bool Stream::close() {
  if (closed_) return true;
  try {
    device_.send(wire::kClse, ids_.local, ids_.remote, {});
    auto until = wire::after(bounds::kCloseReply);
    while (true) {
      Device::Arrival a = device_.next(ids_.local, until);
      if (a.what == Device::Arrival::What::Timeout) return false;
      if (a.packet.command == wire::kClse) return closed_ = true;
      if (a.packet.command == wire::kWrte) device_.send(wire::kOkay, ids_.local, ids_.remote, {});
    }
  } catch (const wire::Failed&) {
    return false;
  }
}

}  // namespace bridge
