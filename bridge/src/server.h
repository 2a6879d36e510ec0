// The background server: holds the TV connections between invocations and serves clients on
// 127.0.0.1 until one asks it to stop.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device.h"
#include "failure.h"
#include "platform.h"

namespace bridge {

class Server {
 public:
  // Listens on 127.0.0.1:port and marks that it runs. Throws wire::Error when it cannot listen.
  explicit Server(std::uint16_t port);
  // Tells the spawning client through readyToken (may be empty), then serves a thread per
  // client until host:kill ends the process.
  [[noreturn]] void run(const std::string& readyToken);

 private:
  // The TVs held: a handful at most, one per serial.
  class Registry {
   public:
    std::shared_ptr<Device> find(const std::string& serial);
    std::vector<std::shared_ptr<Device>> all();
    void put(std::shared_ptr<Device> d);
    void drop(const std::shared_ptr<Device>& d);

   private:
    std::mutex m_;
    std::vector<std::shared_ptr<Device>> devices_;
  };

  void serve(plat::Socket c);
  [[noreturn]] void kill(plat::Socket& c);
  void listDevices(plat::Socket& c);
  void connectDevice(plat::Socket& c, const std::string& target);
  void transport(plat::Socket& c);
  void refuseTransport(plat::Socket& c, wire::FailKind kind);
  // Takes the TV for one stream; drops it when its link is gone.
  std::unique_lock<std::timed_mutex> claim(const std::shared_ptr<Device>& d);

  plat::Listener listener_;
  plat::ServerMark mark_;
  Registry registry_;
};

// Runs the server on port; returns only when it cannot listen.
int runServer(std::uint16_t port, const std::string& readyToken);

}  // namespace bridge
