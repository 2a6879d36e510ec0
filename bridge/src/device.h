// One TV connection held by the background server: the CNXN handshake, its lock state, and
// the streams opened on it, relayed to one client at a time.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"
#include "platform.h"

namespace bridge {

class Device {
 public:
  // TCP connect and handshake. Throws wire::Error with the reason; refusedOrOff tells a TV that
  // did not take the TCP connection apart from one that took it and then failed.
  static std::unique_ptr<Device> connect(const wire::Ipv4Target& target, bool& refusedOrOff);

  const std::string& serial() const { return serial_; }
  const std::string& model() const { return model_; }
  bool locked() const { return locked_; }
  std::uint32_t maxPayload() const { return maxPayload_; }

  // Reads whatever the TV sent while idle (lock state) without waiting. False once the link
  // is gone or the TV sent something it must not. Call with busy() held.
  bool alive();

  // Opens service on the TV and relays it to client: OKAY or FAIL, then the stream frames.
  // A fault of the TV throws wire::Error after a FAIL frame went to the client; the caller then
  // drops this device. A client that goes away only ends the stream.
  void relay(plat::Socket& client, const std::string& service);

  // Sends the open local file to remote on the TV through its sync service and tells client how
  // it went (see "push:" in wire.h). The file is read in packet-sized pieces, never whole.
  // Faults of the TV throw like relay; a local file that cannot be read is reported to the client.
  void push(plat::Socket& client, const std::string& remote, const std::string& local, plat::InputFile& file);

  std::timed_mutex& busy() { return busy_; }

 private:
  Device(plat::Socket s, std::string serial, wire::DeviceBanner banner, std::uint32_t maxPayload);
  void send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view data);
  // The next packet other than a lock-state broadcast; nullopt when the TV closed the link.
  std::optional<wire::Packet> receive(wire::Deadline firstByte);
  std::optional<std::uint32_t> open(const std::string& service);
  // Opens service for client and answers it OKAY or FAIL; the TV's id, or nullopt if refused.
  std::optional<std::uint32_t> openFor(plat::Socket& client, const std::string& service);
  void closeStream(std::uint32_t local, std::uint32_t remote);

  // One open stream the server itself speaks on: the TV's data is acked at once and kept.
  struct Stream {
    std::uint32_t local, remote;
    bool unacked = false;  // our last WRTE awaits its OKAY
    bool closed = false;   // the TV sent CLSE
    std::string inbox;
  };
  // Handles the next packet of the stream, waiting at most the stall bound for it.
  void step(Stream& s);
  // Sends one WRTE once the last one is acked; packet holds room for the header before payload.
  void write(Stream& s, std::vector<char>& packet, std::size_t payload, std::uint32_t check);
  void write(Stream& s, const std::string& payload);
  // The next n bytes the TV sends on the stream.
  std::optional<std::string> read(Stream& s, std::size_t n);
  // The sync conversation of a push; returns the error message for the client, empty on
  // success. progress gets the bytes sent since its last call; false from it ends the push.
  std::string sendFile(Stream& s, plat::InputFile& file, std::string remote, const std::string& local,
                       const std::function<bool(std::uint64_t)>& progress);

  plat::Socket sock_;
  std::string serial_;
  std::string model_;
  bool locked_ = false;
  std::uint32_t maxPayload_;
  std::uint32_t nextId_ = 1;
  std::timed_mutex busy_;
};

}  // namespace bridge
