#include "device_info.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace tvsim {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kRequestMax = 8192;  // bytes of request line and headers
constexpr auto kRequestWait = 5s;

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      out += u;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// The request line and headers, or empty when the client sent none in time or too many.
std::string readRequest(int fd) {
  std::string request;
  auto deadline = std::chrono::steady_clock::now() + kRequestWait;
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kRequestMax) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) return {};
    char buf[1024];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return {};
    request.append(buf, std::size_t(n));
  }
  return request.find("\r\n\r\n") == std::string::npos ? "" : request;
}

std::string response(int status, const std::string& type, const std::string& body) {
  const char* reason = status == 200   ? "OK"
                       : status == 400 ? "Bad Request"
                       : status == 401 ? "Unauthorized"
                       : status == 404 ? "Not Found"
                                       : "Method Not Allowed";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void answer(const Config& c, int fd, std::uint16_t port) {
  std::string request = readRequest(fd);
  std::string line = request.substr(0, request.find("\r\n"));
  std::size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
  std::string reply;
  if (sp1 == std::string::npos || sp2 <= sp1 || line.compare(sp2 + 1, 5, "HTTP/") != 0) {
    reply = response(400, "text/plain", "Bad Request");
  } else if (c.infoStatus) {
    reply = response(*c.infoStatus, "text/plain", *c.infoStatus == 401 ? "Unauthorized" : "Not Found");
  } else if (line.substr(0, sp1) != "GET") {
    reply = response(405, "text/plain", "Method Not Allowed");
  } else if (std::string path = line.substr(sp1 + 1, sp2 - sp1 - 1); path == "/api/v2/" || path == "/api/v2") {
    reply = response(200, "application/json; charset=UTF-8", deviceInfoJson(c, c.listenHost, port));
  } else {
    reply = response(404, "text/plain", "Not Found");
  }
  ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
}

}  // namespace

std::string deviceInfoJson(const Config& c, const std::string& host, std::uint16_t port) {
  const bool on = c.developerMode != DeveloperMode::Off;
  const std::string name = jsonString("[TV] " + c.model), ip = jsonString(host);
  return "{\"device\":{\"developerIP\":" + jsonString(on ? c.hostPc : "0.0.0.0") + ",\"developerMode\":\"" +
         (on ? "1" : "0") + "\",\"ip\":" + ip + ",\"modelName\":" + jsonString(c.model) + ",\"name\":" + name +
         ",\"networkType\":\"wired\",\"PowerState\":\"on\",\"type\":\"Smart TV\"},"
         "\"name\":" +
         name +
         ",\"type\":\"Smart TV\",\"uri\":" + jsonString("http://" + host + ":" + std::to_string(port) + "/api/v2/") +
         ",\"version\":\"2.0.25\"}";
}

void serveDeviceInfo(const Config& c, int listener, std::uint16_t port) {
  while (true) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      std::fprintf(stderr, "tvsim: device information: accept: %s\n", std::strerror(errno));
      return;
    }
    std::thread([&c, fd, port] {
      answer(c, fd, port);
      ::close(fd);
    }).detach();
  }
}

}  // namespace tvsim
