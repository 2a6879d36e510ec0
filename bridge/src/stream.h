// One open stream on a TV, under the one deadline rule of the server: a stall timer that only
// this stream's packets restart, and an overall limit for the command that nothing moves. The
// shell relay reads it packet by packet; the sync exchange reads it as a byte stream.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "device.h"

namespace bridge {

class Stream : public wire::ByteStream {
 public:
  // what names the command in the limit's message ("command", "push").
  Stream(Device& device, StreamIds ids, std::chrono::milliseconds limit, wire::Deadline end, std::string what);

  enum class Event { Data, Acked, Closed, Client };
  // Waits for this stream's next packet, or for the client (when given) to become readable.
  // A WRTE is acked at once and its payload is payload(); a CLSE is answered. Throws
  // wire::Failed on a stall, past the limit (pastLimit() then tells) and when the link breaks.
  Event step(plat::Socket* client = nullptr);
  const std::string& payload() const { return packet_.payload; }

  // The TV's data as bytes, up to kAnswerMax unread; 0 once the TV closed the stream.
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline deadline) override;
  // Sends one WRTE after the last one is acked (not for this stream: use send()).
  void writeAll(const void* buf, std::size_t len, wire::Deadline deadline) override;
  // One WRTE whose payload stands in packet behind room for the header, once the TV acked the
  // last one. False, with nothing sent, when the TV answered or closed the stream first.
  bool send(std::vector<char>& packet, std::size_t payload, std::uint32_t check);

  // Our CLSE, then the TV's within kCloseReply, its data meanwhile acked and dropped. False
  // when it does not confirm.
  bool close();
  bool closed() const { return closed_; }
  bool pastLimit() const { return pastLimit_; }
  bool answered() const { return !inbox_.empty(); }

 private:
  // One step, whose data goes to the inbox.
  void pull();

  Device& device_;
  const StreamIds ids_;
  const std::chrono::milliseconds limit_;
  const wire::Deadline end_;
  const std::string what_;
  wire::Deadline stallAt_;
  wire::Packet packet_;
  std::string inbox_;
  bool unacked_ = false;  // our last WRTE awaits its OKAY
  bool closed_ = false;   // the TV sent CLSE
  bool pastLimit_ = false;
};

}  // namespace bridge
