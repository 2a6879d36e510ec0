#include "link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "codec.h"
#include "wire.h"

namespace tvsim {

namespace {

using namespace std::chrono_literals;

// How long the TV waits for the PC's handshake, and for anything at all once connected.
constexpr auto kHandshakeWait = 10s;
constexpr auto kLinkIdle = 600s;

class FdStream : public wire::ByteStream {
 public:
  explicit FdStream(int fd) : fd_(fd) {}
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline deadline) override {
    while (true) {
      pollfd p{fd_, POLLIN, 0};
      int r = ::poll(&p, 1, wire::millisecondsLeft(deadline));
      if (r == 0) throw wire::Error("timed out");
      if (r < 0 && errno == EINTR) continue;
      ssize_t n = ::recv(fd_, buf, len, 0);
      if (n >= 0) return std::size_t(n);
      if (errno != EINTR) throw wire::Error(std::string("receive: ") + std::strerror(errno));
    }
  }
  void writeAll(const void* buf, std::size_t len, wire::Deadline) override {
    const char* p = static_cast<const char*>(buf);
    while (len > 0) {
      ssize_t n = ::send(fd_, p, len, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw wire::Error(std::string("send: ") + std::strerror(errno));
      p += n;
      len -= std::size_t(n);
    }
  }

 private:
  int fd_;
};

// The output of one service, filled by the link itself or by a command running on a thread of
// its own; the link sleeps on wakeFd() until there is something to send.
class Outbox {
 public:
  Outbox() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0) throw wire::Error(std::string("eventfd: ") + std::strerror(errno));
  }
  ~Outbox() { ::close(wake_); }
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  void put(std::string_view data) {
    {
      std::lock_guard<std::mutex> lock(m_);
      pending_.append(data);
    }
    wake();
  }
  // No more output will come.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(m_);
      finished_ = true;
    }
    wake();
  }
  bool finished() const {
    std::lock_guard<std::mutex> lock(m_);
    return finished_;
  }
  // Up to max bytes of what is pending; empty when nothing is.
  std::string take(std::size_t max) {
    std::lock_guard<std::mutex> lock(m_);
    std::string piece = pending_.substr(0, max);
    pending_.erase(0, piece.size());
    return piece;
  }
  int wakeFd() const { return wake_; }
  void clearWake() {
    std::uint64_t count;
    [[maybe_unused]] auto n = ::read(wake_, &count, sizeof count);
  }

 private:
  void wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
  }

  const int wake_;
  mutable std::mutex m_;
  std::string pending_;
  bool finished_ = false;
};

// One open service; it consumes the PC's stream data and puts its own output in the outbox.
class Service {
 public:
  virtual ~Service() = default;
  virtual void onData(std::string_view data) { (void)data; }
  // Shared with a command thread that may outlive the stream.
  const std::shared_ptr<Outbox> out = std::make_shared<Outbox>();
};

class TextService : public Service {
 public:
  explicit TextService(std::string_view text) {
    out->put(text);
    out->finish();
  }
};

// A shell program runs on its own thread, so that the service is acknowledged at once and its
// output streams as it is produced, as on the TV. The program runs to its end even when the PC
// goes away: an install on a TV does too.
class ShellService : public Service {
 public:
  ShellService(Tv& tv, Program program) {
    std::thread([&tv, program = std::move(program), out = out] {
      try {
        tv.run(program, [&out](std::string_view piece) { out->put(piece); });
      } catch (const std::exception& e) {
        std::fprintf(stderr, "tvsim: command failed: %s\n", e.what());
      }
      out->finish();
    }).detach();
  }
};

// The sync sub-protocol: STAT, SEND + DATA... + DONE, QUIT.
class SyncService : public Service {
 public:
  explicit SyncService(Tv& tv) : tv_(tv) {}

  void onData(std::string_view data) override {
    if (ended_) return;
    // Records are taken straight from the packet; only a record split across packets is kept.
    bool kept = !buf_.empty();
    if (kept) buf_.append(data);
    std::string_view in = kept ? std::string_view(buf_) : data;
    std::size_t pos = 0;
    while (!ended_ && in.size() - pos >= wire::kSyncHeaderSize) {
      std::uint32_t id = wire::le32(in.data() + pos), value = wire::le32(in.data() + pos + 4);
      std::size_t need = wire::kSyncHeaderSize;
      bool carries = id == wire::kSyncStat || id == wire::kSyncSend || id == wire::kSyncData;
      if (carries) {
        std::uint32_t limit = id == wire::kSyncData ? wire::kSyncDataMax : wire::kSyncPathMax + 16;
        if (value > limit) return fail(id == wire::kSyncData ? "oversize data message" : "path too long");
        need += value;
      }
      if (in.size() - pos < need) break;
      std::string_view body = in.substr(pos + wire::kSyncHeaderSize, need - wire::kSyncHeaderSize);
      pos += need;
      handle(id, value, body);
    }
    if (kept)
      buf_.erase(0, pos);
    else
      buf_.assign(data.substr(pos));
  }

 private:
  void end() {
    ended_ = true;
    out->finish();
  }

  void fail(const std::string& why) {
    file_.reset();
    if (!temp_.empty()) std::filesystem::remove(temp_);
    temp_.clear();
    out->put(wire::syncRequest(wire::kSyncFail, why));
    end();
  }

  void handle(std::uint32_t id, std::uint32_t value, std::string_view body) {
    namespace fs = std::filesystem;
    if (id == wire::kSyncStat) {
      auto local = tv_.localPath(std::string(body), false);
      std::uint32_t mode = 0, size = 0, mtime = 0;
      std::error_code ec;
      if (local && fs::exists(*local, ec)) {
        mode = fs::is_directory(*local) ? 0040755 : 0100644;
        size = fs::is_directory(*local) ? 0 : std::uint32_t(fs::file_size(*local, ec));
        mtime = 1;
      }
      std::string reply = wire::syncHeader(wire::kSyncStat, mode);
      wire::putLe32(reply, size);
      wire::putLe32(reply, mtime);
      out->put(reply);
    } else if (id == wire::kSyncSend) {
      std::string spec(body);
      std::size_t comma = spec.rfind(',');
      if (comma == std::string::npos || file_) return fail("malformed SEND");
      target_ = spec.substr(0, comma);
      auto local = tv_.localPath(target_, true);
      if (!local) return fail("Permission denied: " + target_);
      std::error_code ec;
      fs::create_directories(fs::path(*local).parent_path(), ec);
      temp_ = *local + ".part";
      file_ = std::make_unique<std::ofstream>(temp_, std::ios::binary | std::ios::trunc);
      if (!*file_) return fail("cannot open " + target_);
      final_ = *local;
    } else if (id == wire::kSyncData) {
      if (!file_) return fail("DATA without SEND");
      file_->write(body.data(), std::streamsize(body.size()));
    } else if (id == wire::kSyncDone) {
      if (!file_) return fail("DONE without SEND");
      if (tv_.config().faults.count(Fault::FailPush)) return fail("No space left on device");
      file_->close();
      bool ok = !file_->fail();
      file_.reset();
      std::error_code ec;
      if (ok) std::filesystem::rename(temp_, final_, ec);
      temp_.clear();
      if (!ok || ec) return fail("write failed: " + target_);
      out->put(wire::syncHeader(wire::kSyncOkay, 0));
      (void)value;
    } else if (id == wire::kSyncQuit) {
      end();
    } else {
      fail("unknown sync request");
    }
  }

  Tv& tv_;
  bool ended_ = false;
  std::string buf_;
  std::unique_ptr<std::ofstream> file_;
  std::string target_, temp_, final_;
};

std::string peerAddress(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return {};
  char buf[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf) ? buf : "";
}

void send(FdStream& s, std::uint32_t cmd, std::uint32_t a0, std::uint32_t a1, std::string_view data) {
  std::string p = wire::encodePacket(cmd, a0, a1, data);
  s.writeAll(p.data(), p.size(), wire::Clock::now());
}

// Waits for a packet from the PC or for output of the open service; false when neither came
// within the link's idle time.
bool waitForWork(int fd, Outbox* outbox) {
  pollfd p[2] = {{fd, POLLIN, 0}, {outbox ? outbox->wakeFd() : -1, POLLIN, 0}};
  int r = ::poll(p, 2, int(std::chrono::milliseconds(kLinkIdle).count()));
  if (r < 0 && errno != EINTR) throw wire::Error(std::string("poll: ") + std::strerror(errno));
  if (r == 0) throw wire::Error("timed out");
  if (outbox && p[1].revents) outbox->clearWake();
  return r > 0 && p[0].revents;
}

void holdSilently(FdStream& s) {
  char sink[4096];
  while (s.readSome(sink, sizeof sink, wire::Clock::now() + kLinkIdle) != 0) {
  }
}

void serve(Tv& tv, int fd) {
  const Config& config = tv.config();
  const auto& faults = config.faults;
  if (config.developerMode == DeveloperMode::NotRestarted) {
    // The daemon is not running yet: the connection is reset, not closed.
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return;
  }
  if (peerAddress(fd) != config.hostPc || faults.count(Fault::CloseOnAccept)) return;
  FdStream s(fd);
  auto hello = wire::readPacket(s, wire::kHostMaxPayload, wire::Clock::now() + kHandshakeWait);
  if (!hello || hello->command != wire::kCnxn || hello->arg1 < wire::kMinMaxPayload) return;
  if (faults.count(Fault::NoHandshake)) return holdSilently(s);
  const std::uint32_t limit = tv.maxPayload(hello->arg1);
  std::string banner = wire::deviceBanner(config.model, config.locked);
  std::string reply = wire::encodePacket(wire::kCnxn, wire::kDeviceVersion, limit, banner);
  if (faults.count(Fault::CorruptHeader)) reply[20] ^= 0x5a;
  s.writeAll(reply.data(), reply.size(), wire::Clock::now());
  auto broadcastLock = [&](bool locked) { send(s, wire::kStat, locked ? 1 : 0, 0, {}); };
  if (config.lockBroadcast != LockBroadcast::None) broadcastLock(config.locked);

  std::unique_ptr<Service> service;
  std::uint32_t ours = 0, theirs = 0, nextId = 0x100;
  bool awaitingAck = false, lockToggled = false;
  auto endService = [&] {
    if (lockToggled) broadcastLock(config.locked);
    lockToggled = false;
    service.reset();
  };
  while (true) {
    if (service && !awaitingAck) {
      // Read "finished" first: output put before the finish is then surely taken.
      bool finished = service->out->finished();
      std::string piece = service->out->take(limit);
      if (!piece.empty()) {
        send(s, wire::kWrte, ours, theirs, piece);
        awaitingAck = true;
        continue;
      }
      if (finished) {
        endService();
        send(s, wire::kClse, ours, theirs, {});
        continue;
      }
    }
    if (!waitForWork(fd, service ? service->out.get() : nullptr)) continue;
    auto p = wire::readPacket(s, limit, wire::Clock::now() + kLinkIdle);
    if (!p) return;
    switch (p->command) {
      case wire::kOpen: {
        std::string name = p->payload;
        if (!name.empty() && name.back() == '\0') name.pop_back();
        std::optional<Program> program;
        if (name.rfind("shell:", 0) == 0) program = Tv::parseShell(name.substr(6));
        if (service || p->arg0 == 0 || config.locked || faults.count(Fault::RefuseService)) {
          send(s, wire::kClse, 0, p->arg0, {});
          break;
        }
        if (program) {
          service = std::make_unique<ShellService>(tv, std::move(*program));
        } else if (name == "capability:") {
          std::string text = tv.capability() + '\0';
          std::string framed{char(text.size() & 0xff), char(text.size() >> 8)};
          service = std::make_unique<TextService>(framed + text);
        } else if (name == "sync:") {
          service = std::make_unique<SyncService>(tv);
        } else {
          send(s, wire::kClse, 0, p->arg0, {});
          break;
        }
        ours = nextId++;
        theirs = p->arg0;
        awaitingAck = false;
        send(s, wire::kOkay, ours, theirs, {});
        // Holds the stream open and answers nothing more, as a hung TV does.
        if (faults.count(Fault::Stall)) return holdSilently(s);
        if (program && config.lockBroadcast == LockBroadcast::Toggle) {
          broadcastLock(!config.locked);
          lockToggled = true;
        }
        break;
      }
      case wire::kOkay:
        if (service && p->arg1 == ours) awaitingAck = false;
        break;
      case wire::kWrte:
        if (service && p->arg1 == ours) {
          send(s, wire::kOkay, ours, theirs, {});
          service->onData(p->payload);
        }
        break;
      case wire::kClse:
        if (service && p->arg1 == ours) {
          endService();
          send(s, wire::kClse, ours, theirs, {});
        }
        break;
      default: return;  // CNXN again or STAT from the PC: not for a TV
    }
  }
}

}  // namespace

void serveLink(Tv& tv, int fd) {
  try {
    serve(tv, fd);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tvsim: link dropped: %s\n", e.what());
  }
  ::close(fd);
}

}  // namespace tvsim
