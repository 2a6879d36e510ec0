#include "scripted_tv.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "fd_stream.h"
#include "harness.h"
#include "wire.h"

namespace harness {

wire::Packet Link::next() {
  FdStream s(fd_);
  auto p = wire::readPacket(s, wire::kHostMaxPayload, wire::after(std::chrono::seconds(20)));
  if (!p) throw wire::Error("the PC closed the link");
  return *p;
}

void Link::send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload) {
  sendRaw(wire::encodePacket(command, arg0, arg1, payload));
}

void Link::sendRaw(const std::string& bytes) { FdStream(fd_).writeAll(bytes.data(), bytes.size(), {}); }

void Link::handshake(bool locked) {
  if (next().command != wire::kCnxn) throw wire::Error("no CNXN");
  send(wire::kCnxn, wire::kDeviceVersion, 4096, wire::deviceBanner("FAKE", locked));
}

std::uint32_t Link::acceptOpen() {
  wire::Packet p = next();
  if (p.command != wire::kOpen) throw wire::Error("no OPEN");
  send(wire::kOkay, kTvId, p.arg0);
  return p.arg0;
}

bool Link::write(std::uint32_t pcId, std::string_view data) {
  send(wire::kWrte, kTvId, pcId, data);
  wire::Packet p = next();
  if (p.command == wire::kClse) {
    send(wire::kClse, kTvId, pcId);
    return false;
  }
  if (p.command != wire::kOkay) throw wire::Error("no ack");
  return true;
}

void Link::close(std::uint32_t pcId) {
  send(wire::kClse, kTvId, pcId);
  if (next().command != wire::kClse) throw wire::Error("no CLSE");
}

void Link::hold() {
  while (true) next();
}

ScriptedTv::ScriptedTv(Script script) {
  listener_ = bindLoopback(port_);
  ::listen(listener_, 1);
  thread_ = std::thread([this, script = std::move(script)] {
    int c = ::accept(listener_, nullptr, nullptr);
    link_ = c;
    if (c >= 0) {
      Link link(c);
      try {
        script(link);
      } catch (const wire::Error&) {
        // The PC closed the link, or broke the script: either way the TV's part ends here.
      }
      ::close(c);
    }
    ended_ = true;
  });
}

ScriptedTv::~ScriptedTv() {
  // Ends a script that still waits on the PC or for it.
  if (int c = link_; c >= 0) ::shutdown(c, SHUT_RDWR);
  ::shutdown(listener_, SHUT_RDWR);
  ::close(listener_);
  thread_.join();
}

bool ScriptedTv::waitEnded() {
  for (int i = 0; i < 500 && !ended_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return ended_;
}

}  // namespace harness
