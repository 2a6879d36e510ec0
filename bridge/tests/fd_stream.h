// A connected socket as the codec's byte stream, for tests that play one side of a link by hand.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include "wire.h"

namespace harness {

class FdStream : public wire::ByteStream {
 public:
  explicit FdStream(int fd) : fd_(fd) {}
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline deadline) override {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wire::millisecondsLeft(deadline)) <= 0) throw wire::Error("nothing arrived in time");
    ssize_t n = ::recv(fd_, buf, len, 0);
    if (n < 0) throw wire::Error("receive failed");
    return std::size_t(n);
  }
  void writeAll(const void* buf, std::size_t len, wire::Deadline) override {
    if (::send(fd_, buf, len, MSG_NOSIGNAL) != ssize_t(len)) throw wire::Error("the other side went away");
  }

 private:
  int fd_;
};

}  // namespace harness
