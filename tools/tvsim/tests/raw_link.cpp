#include "raw_link.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <stdexcept>

#include "fd_stream.h"
#include "harness.h"

namespace rawlink {

using namespace std::chrono_literals;

int connectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  int err = errno;
  ::close(fd);
  errno = err;
  return -1;
}

RawLink::RawLink(int port) : fd_(connectLoopback(port)) {
  if (fd_ < 0) throw std::runtime_error("cannot connect to tvsim");
  stream_ = std::make_unique<harness::FdStream>(fd_);
  send(wire::kCnxn, wire::kHostVersion, wire::kHostMaxPayload,
       std::string(wire::kHostBanner, sizeof wire::kHostBanner));
  if (next().command != wire::kCnxn) throw std::runtime_error("tvsim answered the handshake with something else");
}

RawLink::~RawLink() { ::close(fd_); }

void RawLink::send(std::uint32_t command, std::uint32_t a0, std::uint32_t a1, std::string_view payload) {
  std::string p = wire::encodePacket(command, a0, a1, payload);
  stream_->writeAll(p.data(), p.size(), wire::Clock::now());
}

wire::Packet RawLink::next() {
  auto p = wire::readPacket(*stream_, wire::kHostMaxPayload, wire::after(30s));
  if (!p) throw std::runtime_error("tvsim closed the link");
  return *p;
}

std::vector<wire::Packet> RawLink::runService(const std::string& service) {
  send(wire::kOpen, 1, 0, service + '\0');
  std::vector<wire::Packet> seen;
  do {
    seen.push_back(next());
    if (seen.back().command == wire::kWrte) send(wire::kOkay, 1, seen.back().arg0);
  } while (seen.back().command != wire::kClse);
  return seen;
}

std::string RawLink::shell(const std::string& command) { return text(runService("shell:" + command)); }

std::string text(const std::vector<wire::Packet>& packets) {
  std::string all;
  for (const auto& p : packets)
    if (p.command == wire::kWrte) all += p.payload;
  return all;
}

HttpReply httpGet(int port, const std::string& path) {
  int fd = connectLoopback(port);
  std::string reply;
  if (fd >= 0) {
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd p{fd, POLLIN, 0};
    char buf[4096];
    for (ssize_t n; ::poll(&p, 1, 10000) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
      reply.append(buf, std::size_t(n));
    ::close(fd);
  }
  std::smatch m;
  if (!std::regex_search(reply, m, std::regex("^HTTP/1\\.1 ([0-9]{3}) [^\r]*\r\n")))
    throw std::runtime_error("no HTTP answer: " + reply);
  std::size_t body = reply.find("\r\n\r\n");
  return {std::stoi(m[1]), body == std::string::npos ? "" : reply.substr(body + 4)};
}

std::vector<std::string> sampleReadyToInstall(const std::string& dir, const std::string& state) {
  const std::string sample = TESTDATA_DIR "/wgt";
  harness::writeFile(dir + "/author-ca.pem", harness::issuerPem(harness::readFile(sample + "/author-signature.xml")));
  harness::writeFile(dir + "/distributor-ca.pem", harness::issuerPem(harness::readFile(sample + "/signature1.xml")));
  harness::writeFile(state + "/fs" + kUploaded, harness::storedZip(harness::readTree(sample)));
  return {"--author-ca",   dir + "/author-ca.pem", "--distributor-ca", dir + "/distributor-ca.pem",
          "--verify-time", "2018-06-01T00:00:00"};
}

}  // namespace rawlink
