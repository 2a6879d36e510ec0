// libFuzzer target: tvsim's sync records, as its link takes them from a PC: a handshake, a
// "sync:" stream, then the input as WRTE payloads of a size its first byte picks, so that
// records split across packets are covered. Files go only to a scratch state folder.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "codec.h"
#include "link.h"
#include "tv.h"
#include "wire.h"

namespace {

struct Scratch {
  std::string dir;
  Scratch() {
    char name[] = "/tmp/velmora-fuzz-sync-XXXXXX";
    dir = ::mkdtemp(name) ? name : "";
    if (dir.empty()) std::abort();
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

tvsim::Tv& tv() {
  static Scratch scratch;
  static tvsim::Tv tv([] {
    tvsim::Config c;
    c.stateDir = scratch.dir;
    c.hostPc = "";  // the peer of a socket pair has no IPv4 address
    return c;
  }());
  return tv;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t chunk = std::size_t(data[0]) * 16 + 1;
  std::string_view records(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string pc = wire::encodePacket(wire::kCnxn, wire::kHostVersion, 4096,
                                      std::string_view(wire::kHostBanner, sizeof wire::kHostBanner));
  pc += wire::encodePacket(wire::kOpen, 1, 0, std::string_view("sync:", 6));
  for (std::size_t at = 0; at < records.size(); at += chunk)
    pc += wire::encodePacket(wire::kWrte, 1, 0x100, records.substr(at, chunk));

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  // The PC writes while the TV runs and its answers are read away, so that neither side's
  // writes can fill the socket and wait on the other.
  std::thread link([fd = fds[1]] { tvsim::serveLink(tv(), fd); });
  std::thread writer([&] {
    for (std::size_t at = 0; at < pc.size();) {
      ssize_t n = ::send(fds[0], pc.data() + at, pc.size() - at, MSG_NOSIGNAL);
      if (n <= 0) break;  // the TV dropped the link
      at += std::size_t(n);
    }
    ::shutdown(fds[0], SHUT_WR);
  });
  char sink[4096];
  while (::read(fds[0], sink, sizeof sink) > 0) {
  }
  writer.join();
  link.join();
  ::close(fds[0]);
  return 0;
}
