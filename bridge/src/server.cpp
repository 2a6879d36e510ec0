#include "server.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "bounds.h"
#include "console.h"
#include "device.h"
#include "platform.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

class Registry {
 public:
  std::shared_ptr<Device> find(const std::string& serial) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = devices_.find(serial);
    return it == devices_.end() ? nullptr : it->second;
  }
  std::vector<std::shared_ptr<Device>> all() {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::shared_ptr<Device>> out;
    for (auto& [serial, d] : devices_) out.push_back(d);
    return out;
  }
  void put(std::shared_ptr<Device> d) {
    std::lock_guard<std::mutex> lock(m_);
    devices_[d->serial()] = std::move(d);
  }
  void drop(const std::shared_ptr<Device>& d) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = devices_.find(d->serial());
    if (it != devices_.end() && it->second == d) devices_.erase(it);
    trace::note("server", "dropped " + d->serial());
  }

 private:
  std::mutex m_;
  std::map<std::string, std::shared_ptr<Device>> devices_;
};

Registry registry;
std::unique_ptr<plat::Listener> listener;
std::unique_ptr<plat::ServerMark> mark;

void reply(plat::Socket& c, bool ok, const std::string& text, bool withText = true) {
  std::string out = ok ? wire::kOkayText : wire::kFailText;
  if (withText || !ok) out += wire::encodeRequest(text.substr(0, wire::kRequestMax));
  trace::bytes("server", "-> client", out);
  c.writeAll(out.data(), out.size(), wire::after(bounds::kClientWrite));
}

// Takes the device for one stream; drops it from the registry when its link is gone.
std::unique_lock<std::timed_mutex> claim(const std::shared_ptr<Device>& d) {
  std::unique_lock<std::timed_mutex> lock(d->busy(), bounds::kDeviceBusy);
  if (lock && !d->alive()) {
    registry.drop(d);
    lock.unlock();
  }
  return lock;
}

std::string padRight(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

void listDevices(plat::Socket& c) {
  std::string text;
  for (auto& d : registry.all()) {
    std::unique_lock<std::timed_mutex> lock(d->busy(), std::defer_lock);
    const char* state = "device";
    if (lock.try_lock()) {
      if (!d->alive()) {
        registry.drop(d);
        continue;
      }
    }
    if (d->locked()) state = "locked";
    text += padRight(d->serial(), 20) + "\t" + padRight(state, 10) + "\t" + d->model() + "\n";
  }
  reply(c, true, text);
}

void connectDevice(plat::Socket& c, const std::string& targetText) {
  wire::Ipv4Target target = *wire::parseTarget(targetText);
  std::string serial = target.serial();
  if (auto existing = registry.find(serial)) {
    if (auto lock = claim(existing)) return reply(c, true, serial + " is already connected");
    if (registry.find(serial) == existing) return reply(c, true, serial + " is already connected");
  }
  bool refusedOrOff = false;
  try {
    auto d = Device::connect(target, refusedOrOff);
    registry.put(std::shared_ptr<Device>(std::move(d)));
    reply(c, true, "connected to " + serial);
  } catch (const wire::Error& e) {
    trace::note("server", "connect " + serial + ": " + e.what());
    if (refusedOrOff)
      reply(c, false, "failed to connect to remote target '" + target.host + "': " + e.what());
    else
      reply(c, false, "failed to connect to " + serial + ": " + e.what());
  }
}

// The client's file for a push: a SEND record with its absolute path.
std::string readLocalPath(plat::Socket& c) {
  auto deadline = wire::after(bounds::kClientRequest);
  unsigned char head[wire::kSyncHeaderSize];
  if (!wire::readExactly(c, head, sizeof head, deadline)) throw wire::Error("no local path after push");
  std::uint32_t length = wire::le32(head + 4);
  if (wire::le32(head) != wire::kSyncSend || length == 0 || length > wire::kLocalPathMax)
    throw wire::Error("malformed local path after push");
  std::string path(length, '\0');
  if (!wire::readExactly(c, path.data(), length, deadline)) throw wire::Error("no local path after push");
  if (path.find('\0') != std::string::npos) throw wire::Error("local path holds a NUL byte");
  return path;
}

// Refuses a transport request and waits for the client to hang up. The client sends its service
// request right behind this one; closing with those bytes unread would reset the connection,
// and a reset can discard the refusal before the client reads it (Windows does).
void refuseTransport(plat::Socket& c, const std::string& text) {
  reply(c, false, text);
  auto deadline = wire::after(bounds::kClientRequest);
  char sink[512];
  try {
    while (c.readSome(sink, sizeof sink, deadline) != 0) {
    }
  } catch (const wire::Error&) {
    // A client that stays past the bound is closed on all the same.
  }
}

void transport(plat::Socket& c) {
  auto devices = registry.all();
  if (devices.empty()) return refuseTransport(c, "error: target not found");
  if (devices.size() > 1)
    return refuseTransport(c, "error: more than one target found. Specify the target with -s option.");
  auto d = devices.front();
  reply(c, true, {}, false);
  auto text = wire::readFramedText(c, wire::after(bounds::kClientRequest));
  if (!text) return;
  trace::note("server", "client asks " + *text);
  wire::Request service = wire::parseRequest(*text);
  if (service.kind != wire::RequestKind::Shell && service.kind != wire::RequestKind::Sync &&
      service.kind != wire::RequestKind::Capability && service.kind != wire::RequestKind::Push)
    return reply(c, false, "not a device service: " + *text);
  std::string localFile;
  plat::InputFile file;
  if (service.kind == wire::RequestKind::Push) {
    localFile = readLocalPath(c);
    if (!plat::peerIsSameUser(c))
      return reply(c, false, "the server runs as another user and reads no files for this one");
    // Before the TV is taken: a file that cannot be pushed must not hold it.
    std::string why;
    if (!file.open(localFile, why)) return reply(c, false, "cannot open '" + localFile + "': " + why);
  }
  auto lock = claim(d);
  if (!lock) {
    if (registry.find(d->serial()) != d) return reply(c, false, "error: target not found");
    return reply(c, false, "device " + d->serial() + " is busy with another command");
  }
  try {
    if (service.kind == wire::RequestKind::Push)
      d->push(c, service.arg, localFile, file);
    else
      d->relay(c, *text);
  } catch (const wire::Error&) {
    registry.drop(d);
  }
}

void serve(plat::Socket c) {
  try {
    auto text = wire::readFramedText(c, wire::after(bounds::kClientRequest));
    if (!text) return;
    trace::note("server", "client asks " + *text);
    wire::Request r;
    try {
      r = wire::parseRequest(*text);
    } catch (const wire::Error& e) {
      return reply(c, false, std::string(e.what()) + ": " + *text);
    }
    switch (r.kind) {
      case wire::RequestKind::Kill:
        // Refuse new clients before answering, so that whoever sees the answer finds no server.
        listener->close();
        mark->release();
        reply(c, true, {}, false);
        trace::note("server", "stopping");
        // The client waits for this socket to close, which happens as the process ends.
        plat::exitNow(0);
      case wire::RequestKind::Devices: return listDevices(c);
      case wire::RequestKind::Connect: return connectDevice(c, r.arg);
      case wire::RequestKind::TransportAny: return transport(c);
      default: return reply(c, false, "no target chosen for " + *text);
    }
  } catch (const wire::Error& e) {
    trace::note("server", std::string("client dropped: ") + e.what());
  } catch (const std::exception& e) {
    trace::note("server", std::string("request failed: ") + e.what());
  }
}

}  // namespace

int runServer(std::uint16_t port, const std::string& readyToken) {
  try {
    listener = std::make_unique<plat::Listener>("127.0.0.1", port);
  } catch (const wire::Error& e) {
    console::error(std::string("error: server: ") + e.what() + "\n");
    return 1;
  }
  mark = std::make_unique<plat::ServerMark>(port);
  trace::note("server", "listening on 127.0.0.1:" + std::to_string(listener->port()));
  if (!readyToken.empty()) plat::signalReady(readyToken);
  while (true) {
    plat::Socket c = listener->accept();
    std::thread(serve, std::move(c)).detach();
  }
}

}  // namespace bridge
