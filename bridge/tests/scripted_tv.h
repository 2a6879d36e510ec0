// Test support: a TV acted out by a script on loopback, for what tvsim does not do (garbage,
// lock-state packets at exact moments, streams without end, packets for ids never opened).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "codec.h"

namespace harness {

// The TV's side of one PC connection, as the script sees it.
class Link {
 public:
  explicit Link(int fd) : fd_(fd) {}
  // The PC's next packet; throws wire::Error once the PC closed the link, or after 20 s.
  wire::Packet next();
  void send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload = {});
  void sendRaw(const std::string& bytes);

  // Reads the PC's CNXN and answers it, with the lock state in the banner.
  void handshake(bool locked = false);
  // Reads an OPEN and accepts it; the PC's id for the stream.
  std::uint32_t acceptOpen();
  // One WRTE and the PC's ack; false when the PC closed the stream instead (answered).
  bool write(std::uint32_t pcId, std::string_view data);
  // Our CLSE, then the PC's.
  void close(std::uint32_t pcId);
  // Answers nothing more until the PC closes the link.
  void hold();

  static constexpr std::uint32_t kTvId = 0x100;  // the TV's id for every stream

 private:
  int fd_;
};

class ScriptedTv {
 public:
  using Script = std::function<void(Link&)>;
  // Takes one connection on a free loopback port and runs the script on it; the link closes
  // when the script returns or throws.
  explicit ScriptedTv(Script script);
  ~ScriptedTv();
  ScriptedTv(const ScriptedTv&) = delete;
  ScriptedTv& operator=(const ScriptedTv&) = delete;
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // True once the script has ended and the link is closed, within a bounded wait.
  bool waitEnded();

 private:
  int listener_ = -1, port_ = 0;
  std::atomic<int> link_{-1};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace harness
