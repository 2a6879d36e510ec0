// The PC's side of one link to tvsim, packet by packet, for tests that look at the transport
// itself or run many commands without the bridge tool in between.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "codec.h"

namespace rawlink {

class RawLink {
 public:
  // Connects to tvsim on 127.0.0.1:port and exchanges the handshake.
  explicit RawLink(int port);
  ~RawLink();
  RawLink(const RawLink&) = delete;
  RawLink& operator=(const RawLink&) = delete;

  void send(std::uint32_t command, std::uint32_t a0, std::uint32_t a1, std::string_view payload = {});
  // The next packet, within 30 s.
  wire::Packet next();
  // Every packet from opening the service to the TV's CLSE, acking each WRTE.
  std::vector<wire::Packet> runService(const std::string& service);
  // The output of a shell command.
  std::string shell(const std::string& command);

 private:
  class Stream;
  int fd_;
  std::unique_ptr<Stream> stream_;
};

// The stream data among the packets.
std::string text(const std::vector<wire::Packet>& packets);

}  // namespace rawlink
