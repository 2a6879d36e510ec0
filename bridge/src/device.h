// One TV connection held by the background server: the handshake, the lock state the TV
// broadcasts, and the packet step that every stream on the link is built on.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"
#include "platform.h"

namespace bridge {

struct StreamIds {
  std::uint32_t local, remote;  // ours, and the TV's
};

class Device {
 public:
  // TCP connect and handshake. Throws wire::Failed: Unreachable when the TV's port did not take
  // the connection, Handshake when it took it and no handshake came of it.
  static std::unique_ptr<Device> connect(const wire::Ipv4Target& target);

  const std::string& serial() const { return serial_; }
  const std::string& model() const { return model_; }
  // Read by `devices` while another client's stream may be taking a STAT in.
  bool locked() const { return locked_.load(); }
  std::uint32_t maxPayload() const { return maxPayload_; }
  std::timed_mutex& busy() { return busy_; }

  // Takes in what the TV sent while no stream was open (its lock state, late packets of ended
  // streams) without waiting. False once the link is gone or broken. Call with busy() held.
  bool alive();

  // What the packet step brought.
  struct Arrival {
    enum class What { Packet, Client, Timeout };
    What what = What::Timeout;
    wire::Packet packet;
  };
  // The next packet for stream `local`, its first byte due by `until`, or the client socket
  // (when given) readable first. A STAT is taken in and packets for other ids are passed over
  // wherever they come; neither ends the wait nor moves its deadline. Throws wire::Failed when
  // the link breaks.
  Arrival next(std::uint32_t local, wire::Deadline until, plat::Socket* client = nullptr);

  // Opens a service; nullopt when the TV refuses it. Throws wire::Failed when it does not
  // answer within kOpenReply (or by end).
  std::optional<StreamIds> open(const std::string& service, wire::Deadline end);
  void send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view data);
  // One WRTE whose payload already stands in packet behind room for the header.
  void sendWrte(StreamIds ids, std::vector<char>& packet, std::size_t payload, std::uint32_t check);

  // Throws wire::Failed of kind Device, naming this TV.
  [[noreturn]] void fail(const std::string& detail) const;

 private:
  Device(plat::Socket s, std::string serial, wire::DeviceBanner banner, std::uint32_t maxPayload);
  // One packet; its first byte is already there.
  wire::Packet readPacket();
  void write(const char* data, std::size_t size, std::string_view traceLine, std::string_view payload);

  plat::Socket sock_;
  const std::string serial_;
  const std::string model_;
  std::atomic<bool> locked_;
  const std::uint32_t maxPayload_;
  std::uint32_t nextId_ = 1;  // with busy_ held
  std::timed_mutex busy_;
};

}  // namespace bridge
