// The half of the platform seam that is the same on every system, over the primitives of
// platform_sys.h.
#include "platform_sys.h"

namespace plat {

namespace sys {

sockaddr_in ipv4Address(const std::string& ipv4, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, ipv4.c_str(), &a.sin_addr) != 1) throw wire::Error("'" + ipv4 + "' is not an IPv4 address");
  return a;
}

}  // namespace sys

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    o.handle_ = -1;
  }
  return *this;
}

void Socket::close() {
  if (handle_ != -1) sys::closeSocket(handle_);
  handle_ = -1;
}

std::size_t Socket::readSome(void* buf, std::size_t len, Deadline deadline) {
  while (true) {
    if (!sys::waitFor(handle_, false, deadline)) throw wire::Timeout("timed out waiting for data");
    long long n = sys::receive(handle_, buf, len);
    if (n >= 0) return std::size_t(n);
    int e = sys::lastError();
    // A reset is the peer closing with our data unread: for us, the end of its stream.
    if (sys::reset(e)) return 0;
    if (!sys::interrupted(e) && !sys::wouldBlock(e)) throw wire::Error("receive failed: " + sys::errorText(e));
  }
}

void Socket::writeAll(const void* buf, std::size_t len, Deadline deadline) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    if (!sys::waitFor(handle_, true, deadline)) throw wire::Timeout("timed out sending data");
    long long n = sys::send(handle_, p, len);
    if (n < 0) {
      int e = sys::lastError();
      if (sys::interrupted(e) || sys::wouldBlock(e)) continue;
      throw wire::Error("send failed: " + sys::errorText(e));
    }
    p += n;
    len -= std::size_t(n);
  }
}

bool Socket::waitReadable(Deadline deadline) { return sys::waitFor(handle_, false, deadline); }

Socket connectTcp(const std::string& ipv4, std::uint16_t port, Deadline deadline, ConnectFailure& failure,
                  std::string& reason) {
  sockaddr_in a = sys::ipv4Address(ipv4, port);
  failure = ConnectFailure::Other;
  Socket s(sys::newTcpSocket());
  if (!s.valid()) {
    reason = sys::errorText(sys::lastError());
    return Socket();
  }
  int e = sys::startConnect(s.native(), a) == 0 ? 0 : sys::lastError();
  if (e != 0 && sys::wouldBlock(e)) {
    if (!sys::waitFor(s.native(), true, deadline)) {
      failure = ConnectFailure::TimedOut;
      reason = "connection timed out";
      return Socket();
    }
    e = sys::connectResult(s.native());
  }
  if (e != 0) {
    failure = sys::refused(e) ? ConnectFailure::Refused : ConnectFailure::Other;
    reason = sys::errorText(e);
    return Socket();
  }
  sys::setNoDelay(s.native());
  failure = ConnectFailure::None;
  return s;
}

InputFile::InputFile(InputFile&& o) noexcept : handle_(o.handle_), size_(o.size_), left_(o.left_), mtime_(o.mtime_) {
  o.handle_ = -1;
}

InputFile& InputFile::operator=(InputFile&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_, size_ = o.size_, left_ = o.left_, mtime_ = o.mtime_;
    o.handle_ = -1;
  }
  return *this;
}

InputFile::~InputFile() { close(); }

}  // namespace plat
