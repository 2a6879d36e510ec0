#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform_sys.h"

namespace plat {

namespace sys {

int lastError() { return errno; }
std::string errorText(int code) { return std::strerror(code); }
bool wouldBlock(int code) { return code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS; }
bool interrupted(int code) { return code == EINTR; }
bool refused(int code) { return code == ECONNREFUSED; }
bool reset(int code) { return code == ECONNRESET; }

bool waitFor(Handle h, bool write, Deadline deadline) {
  while (true) {
    pollfd p{int(h), short(write ? POLLOUT : POLLIN), 0};
    int r = ::poll(&p, 1, wire::millisecondsLeft(deadline));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) throw wire::Error("poll: " + sys::errorText(errno));
  }
}

Handle newTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

void setNoDelay(Handle h) {
  int one = 1;
  ::setsockopt(int(h), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void closeSocket(Handle h) { ::close(int(h)); }

long long receive(Handle h, void* buf, std::size_t len) { return ::recv(int(h), buf, len, 0); }

long long send(Handle h, const void* buf, std::size_t len) {
  return ::send(int(h), buf, len, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int startConnect(Handle h, const sockaddr_in& to) {
  return ::connect(int(h), reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int connectResult(Handle h) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(int(h), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace sys

void init() { ::signal(SIGPIPE, SIG_IGN); }

int waitAnyReadable(Socket* const* sockets, int count, Deadline deadline) {
  pollfd fds[4];
  int map[4];
  int n = 0;
  for (int i = 0; i < count && n < 4; ++i) {
    if (!sockets[i]) continue;
    fds[n] = pollfd{int(sockets[i]->native()), POLLIN, 0};
    map[n++] = i;
  }
  while (true) {
    int r = ::poll(fds, nfds_t(n), wire::millisecondsLeft(deadline));
    if (r == 0) return -1;
    if (r < 0) {
      if (errno == EINTR) continue;
      throw wire::Error("poll: " + sys::errorText(errno));
    }
    for (int i = 0; i < n; ++i)
      if (fds[i].revents) return map[i];
  }
}

namespace {

// Owner of the loopback socket whose local end is `local` and remote end `remote`, asked of the
// kernel for that one socket; nullopt when it gives no answer that way (an error included).
std::optional<unsigned> ownerByDiag(const sockaddr_in& local, const sockaddr_in& remote) {
  int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (nl < 0) return std::nullopt;
  struct {
    nlmsghdr head;
    inet_diag_req_v2 body;
  } req{};
  req.head.nlmsg_len = sizeof req;
  req.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  req.head.nlmsg_flags = NLM_F_REQUEST;
  req.body.sdiag_family = AF_INET;
  req.body.sdiag_protocol = IPPROTO_TCP;
  req.body.idiag_states = ~0u;
  req.body.id.idiag_sport = local.sin_port;
  req.body.id.idiag_dport = remote.sin_port;
  req.body.id.idiag_src[0] = local.sin_addr.s_addr;
  req.body.id.idiag_dst[0] = remote.sin_addr.s_addr;
  req.body.id.idiag_cookie[0] = req.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  // The kernel answers at once; the limit only guards against one that never does.
  timeval limit{1, 0};
  ::setsockopt(nl, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  alignas(nlmsghdr) char answer[1024];
  ssize_t n = -1;
  if (::send(nl, &req, sizeof req, 0) == ssize_t(sizeof req)) n = ::recv(nl, answer, sizeof answer, 0);
  ::close(nl);
  auto* head = reinterpret_cast<const nlmsghdr*>(answer);
  if (n < 0 || !NLMSG_OK(head, unsigned(n))) return std::nullopt;
  if (head->nlmsg_type != SOCK_DIAG_BY_FAMILY || head->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
    return std::nullopt;
  return static_cast<const inet_diag_msg*>(NLMSG_DATA(head))->idiag_uid;
}

// "ADDRESS:PORT" in the socket table's spelling: the raw 32-bit address and the port, in upper
// case hex.
std::string tableAddress(const sockaddr_in& a) {
  std::string text = wire::hexDigits(a.sin_addr.s_addr, 8) + ":" + wire::hexDigits(ntohs(a.sin_port), 4);
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The same from the kernel's socket table as text, which lists every socket (slow on a busy
// host); ~0u when the socket is not in it.
unsigned ownerByTable(const sockaddr_in& localEnd, const sockaddr_in& remoteEnd) {
  int fd = ::open("/proc/net/tcp", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ~0u;
  std::string table;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) table.append(buf, std::size_t(n));
  ::close(fd);
  const std::string local = tableAddress(localEnd), remote = tableAddress(remoteEnd);
  // Each line: slot, local, remote, state, queues, timer, retransmits, uid, ...
  std::size_t at = 0;
  while (at < table.size()) {
    std::size_t end = table.find('\n', at);
    if (end == std::string::npos) end = table.size();
    std::vector<std::string_view> fields;
    std::string_view line(table.data() + at, end - at);
    for (std::size_t i = 0; i < line.size() && fields.size() < 8;) {
      std::size_t j = line.find_first_not_of(' ', i);
      if (j == std::string_view::npos) break;
      i = std::min(line.find(' ', j), line.size());
      fields.push_back(line.substr(j, i - j));
    }
    if (fields.size() == 8 && fields[1] == local && fields[2] == remote) {
      unsigned uid = 0;
      for (char c : fields[7]) {
        if (c < '0' || c > '9') return ~0u;
        uid = uid * 10 + unsigned(c - '0');
      }
      return uid;
    }
    at = end + 1;
  }
  return ~0u;
}

}  // namespace

bool peerIsSameUser(const Socket& s) {
  sockaddr_in self{}, peer{};
  socklen_t len = sizeof self;
  if (::getsockname(int(s.native()), reinterpret_cast<sockaddr*>(&self), &len) != 0) return false;
  len = sizeof peer;
  if (::getpeername(int(s.native()), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
  // The peer's end of the connection: local address = our peer, remote address = us.
  std::optional<unsigned> owner = ownerByDiag(peer, self);
  return (owner ? *owner : ownerByTable(peer, self)) == unsigned(::geteuid());
}

Listener::Listener(const std::string& ipv4, std::uint16_t port) {
  sockaddr_in a = sys::ipv4Address(ipv4, port);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw wire::Error("socket: " + sys::errorText(errno));
  handle_ = fd;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
    std::string why = sys::errorText(errno);
    ::close(fd);
    handle_ = -1;
    throw wire::Error("cannot listen on " + ipv4 + ":" + std::to_string(port) + ": " + why);
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

Listener::~Listener() {
  if (handle_ != -1) ::close(int(handle_));
}

// Shut down rather than closed: the accepting thread may still be using the descriptor.
void Listener::close() { ::shutdown(int(handle_), SHUT_RDWR); }

Socket Listener::accept() {
  while (true) {
    int fd = ::accept4(int(handle_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      sys::setNoDelay(fd);
      return Socket(fd);
    }
    if (errno != EINTR && errno != ECONNABORTED) ::usleep(10000);
  }
}

bool spawnServer(const std::function<int(const std::string& readyToken)>& serve, const std::vector<std::string>&,
                 Deadline deadline, std::string& reason) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    reason = "pipe: " + sys::errorText(errno);
    return false;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    reason = "fork: " + sys::errorText(errno);
    ::close(ready[0]);
    ::close(ready[1]);
    return false;
  }
  if (pid == 0) {
    // Child: its own session, standard streams on /dev/null, nothing else open but the
    // readiness pipe, so a caller's redirected output is not held open by the server.
    ::setsid();
    int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    ::dup2(ready[1], 3);
    ::close_range(4, ~0u, 0);
    if (::chdir("/") != 0) ::_exit(127);
    ::_exit(serve("3"));
  }
  ::close(ready[1]);
  char byte = 0;
  bool ok = false;
  while (true) {
    pollfd p{ready[0], POLLIN, 0};
    int r = ::poll(&p, 1, wire::millisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      reason = "the server did not become ready in time";
      break;
    }
    ok = ::read(ready[0], &byte, 1) == 1;
    if (!ok) reason = "the server ended before it was ready";
    break;
  }
  ::close(ready[0]);
  // The child goes on as the server; reap it only if it already failed.
  ::waitpid(pid, nullptr, WNOHANG);
  return ok;
}

void signalReady(const std::string& token) {
  int fd = std::atoi(token.c_str());
  if (fd < 3) return;
  char byte = 1;
  if (::write(fd, &byte, 1) != 1) {
    // The client gave up waiting; it will find the server on its next try.
  }
  ::close(fd);
}

namespace {

// The reason a file of this kind is not pushed; empty for a regular file.
const char* notPushable(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "";
  if (S_ISDIR(st.st_mode)) return "a folder, not a file";
  return "not a regular file (a pipe or a device)";
}

}  // namespace

void InputFile::close() {
  if (handle_ != -1) ::close(int(handle_));
  handle_ = -1;
}

bool InputFile::open(const std::string& path, std::string& reason) {
  close();
  // Looked at before opening, as opening a pipe or a device can itself wait or act; and again
  // after, as the name may have been replaced in between. O_NONBLOCK keeps that open from waiting.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    reason = sys::errorText(errno);
    return false;
  }
  reason = notPushable(st);
  if (!reason.empty()) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = sys::errorText(errno);
    return false;
  }
  reason = ::fstat(fd, &st) != 0 ? sys::errorText(errno) : notPushable(st);
  if (!reason.empty()) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  size_ = left_ = std::uint64_t(st.st_size);
  mtime_ = st.st_mtim.tv_sec < 0 ? 0 : std::uint32_t(st.st_mtim.tv_sec);
  return true;
}

std::size_t InputFile::read(void* buf, std::size_t len) {
  if (left_ == 0) return 0;
  if (len > left_) len = std::size_t(left_);
  while (true) {
    ssize_t n = ::read(int(handle_), buf, len);
    if (n > 0) {
      left_ -= std::uint64_t(n);
      return std::size_t(n);
    }
    if (n == 0) throw wire::Error("the file shrank while it was read");
    if (errno != EINTR) throw wire::Error(sys::errorText(errno));
  }
}

ServerMark::ServerMark(std::uint16_t) {}
ServerMark::~ServerMark() = default;
void ServerMark::release() {}
bool ServerMark::knownAbsent(std::uint16_t) { return false; }

void writeStd(StdStream stream, std::string_view bytes) {
  int fd = stream == StdStream::Out ? 1 : 2;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a reader that went away loses the rest
    bytes.remove_prefix(std::size_t(n));
  }
}

bool stdoutIsSeparateLog() {
  if (::isatty(1)) return false;
  struct stat out, err;
  if (::fstat(1, &out) != 0) return false;
  if (::fstat(2, &err) != 0) return true;
  return out.st_dev != err.st_dev || out.st_ino != err.st_ino;
}

std::string getEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

void appendToFile(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n <= 0) break;
    off += std::size_t(n);
  }
  ::close(fd);
}

int processId() { return int(::getpid()); }

void exitNow(int status) { ::_exit(status); }

}  // namespace plat
