#include "server.h"

#include <thread>

#include "bounds.h"
#include "console.h"
#include "services.h"
#include "settings.h"
#include "trace.h"
#include "wire.h"

namespace bridge {

namespace {

void send(plat::Socket& c, const std::string& bytes) {
  trace::bytes("server", "-> client", bytes);
  c.writeAll(bytes.data(), bytes.size(), wire::after(bounds::kClientWrite));
}

void okay(plat::Socket& c) { send(c, wire::kOkayText); }
void okay(plat::Socket& c, const std::string& text) { send(c, wire::kOkayText + wire::encodeRequest(text)); }
void fail(plat::Socket& c, const wire::Failure& f) {
  send(c, wire::kFailText + wire::encodeRequest(wire::encodeFailure(f)));
}
void fail(plat::Socket& c, std::string detail) { fail(c, {wire::FailKind::Local, {}, std::move(detail)}); }

std::string padRight(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
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

}  // namespace

std::shared_ptr<Device> Server::Registry::find(const std::string& serial) {
  std::lock_guard<std::mutex> lock(m_);
  for (const auto& d : devices_)
    if (d->serial() == serial) return d;
  return nullptr;
}

std::vector<std::shared_ptr<Device>> Server::Registry::all() {
  std::lock_guard<std::mutex> lock(m_);
  return devices_;
}

void Server::Registry::put(std::shared_ptr<Device> d) {
  std::lock_guard<std::mutex> lock(m_);
  std::erase_if(devices_, [&](const auto& held) { return held->serial() == d->serial(); });
  devices_.push_back(std::move(d));
}

void Server::Registry::drop(const std::shared_ptr<Device>& d) {
  std::lock_guard<std::mutex> lock(m_);
  std::erase(devices_, d);
  trace::note("server", "dropped " + d->serial());
}

Server::Server(std::uint16_t port) : listener_("127.0.0.1", port), mark_(port) {
  trace::note("server", "listening on 127.0.0.1:" + std::to_string(listener_.port()));
}

void Server::run(const std::string& readyToken) {
  if (!readyToken.empty()) plat::signalReady(readyToken);
  while (true) {
    std::thread([this, c = listener_.accept()]() mutable { serve(std::move(c)); }).detach();
  }
}

std::unique_lock<std::timed_mutex> Server::claim(const std::shared_ptr<Device>& d) {
  std::unique_lock<std::timed_mutex> lock(d->busy(), bounds::kDeviceBusy);
  if (lock && !d->alive()) {
    registry_.drop(d);
    lock.unlock();
  }
  return lock;
}

void Server::kill(plat::Socket& c) {
  // Refuse new clients and take the mark away before answering, so that whoever sees the
  // answer finds no server.
  listener_.close();
  mark_.release();
  okay(c);
  trace::note("server", "stopping");
  // The client waits for this socket to close, which happens as the process ends.
  plat::exitNow(0);
}

void Server::listDevices(plat::Socket& c) {
  std::string text;
  for (auto& d : registry_.all()) {
    // A TV busy with a stream is listed as it is; an idle one is first checked.
    std::unique_lock<std::timed_mutex> lock(d->busy(), std::try_to_lock);
    if (lock && !d->alive()) {
      registry_.drop(d);
      continue;
    }
    text +=
        padRight(d->serial(), 20) + "\t" + padRight(d->locked() ? "locked" : "device", 10) + "\t" + d->model() + "\n";
  }
  okay(c, text);
}

void Server::connectDevice(plat::Socket& c, const std::string& targetText) {
  wire::Ipv4Target target = *wire::parseTarget(targetText);
  std::string serial = target.serial();
  if (auto existing = registry_.find(serial)) {
    if (auto lock = claim(existing)) return okay(c, serial + " is already connected");
    if (registry_.find(serial) == existing) return okay(c, serial + " is already connected");
  }
  try {
    registry_.put(std::shared_ptr<Device>(Device::connect(target)));
    okay(c, "connected to " + serial);
  } catch (const wire::Failed& e) {
    trace::note("server", "connect " + serial + ": " + e.what());
    fail(c, e.failure());
  }
}

// Refuses a transport request and waits for the client to hang up. The client sends its service
// request right behind this one; closing with those bytes unread would reset the connection,
// and a reset can discard the refusal before the client reads it (Windows does).
void Server::refuseTransport(plat::Socket& c, wire::FailKind kind) {
  fail(c, {kind, {}, {}});
  auto deadline = wire::after(bounds::kClientRequest);
  char sink[512];
  try {
    while (c.readSome(sink, sizeof sink, deadline) != 0) {
    }
  } catch (const wire::Error&) {
    // A client that stays past the bound is closed on all the same.
  }
}

void Server::transport(plat::Socket& c) {
  auto devices = registry_.all();
  if (devices.empty()) return refuseTransport(c, wire::FailKind::NoTarget);
  if (devices.size() > 1) return refuseTransport(c, wire::FailKind::ManyTargets);
  auto d = devices.front();
  okay(c);
  auto text = wire::readFramedText(c, wire::after(bounds::kClientRequest));
  if (!text) return;
  trace::note("server", "client asks " + *text);
  wire::Request service;
  try {
    service = wire::parseRequest(*text);
  } catch (const wire::Error& e) {
    return fail(c, std::string(e.what()) + ": " + text->substr(0, 64));
  }
  if (service.kind != wire::RequestKind::Shell && service.kind != wire::RequestKind::Capability &&
      service.kind != wire::RequestKind::Push)
    return fail(c, "not a device service: " + *text);
  std::string localFile;
  plat::InputFile file;
  if (service.kind == wire::RequestKind::Push) {
    try {
      localFile = readLocalPath(c);
    } catch (const wire::Error& e) {
      return fail(c, e.what());
    }
    if (!plat::peerIsSameUser(c)) return fail(c, "the server runs as another user and reads no files for this one");
    // Before the TV is taken: a file that cannot be pushed must not hold it.
    std::string why;
    if (!file.open(localFile, why)) return fail(c, "cannot open '" + localFile + "': " + why);
  }
  auto lock = claim(d);
  if (!lock) {
    if (registry_.find(d->serial()) != d) return fail(c, {wire::FailKind::NoTarget, {}, {}});
    return fail(c,
                {wire::FailKind::Device, d->serial(), "busy with another command for " + seconds(bounds::kDeviceBusy)});
  }
  try {
    if (service.kind == wire::RequestKind::Push)
      push(*d, c, service.arg, localFile, file);
    else
      relay(*d, c, *text);
  } catch (const wire::Failed& e) {
    trace::note("server", d->serial() + " dropped: " + e.what());
    registry_.drop(d);
  }
}

void Server::serve(plat::Socket c) {
  try {
    auto text = wire::readFramedText(c, wire::after(bounds::kClientRequest));
    if (!text) return;
    trace::note("server", "client asks " + *text);
    wire::Request r;
    try {
      r = wire::parseRequest(*text);
    } catch (const wire::Error& e) {
      return fail(c, std::string(e.what()) + ": " + text->substr(0, 64));
    }
    switch (r.kind) {
      case wire::RequestKind::Kill: kill(c);
      case wire::RequestKind::Devices: return listDevices(c);
      case wire::RequestKind::Connect: return connectDevice(c, r.arg);
      case wire::RequestKind::TransportAny: return transport(c);
      default: return fail(c, "no target chosen for " + *text);
    }
  } catch (const std::exception& e) {
    trace::note("server", std::string("client dropped: ") + e.what());
  }
}

int runServer(std::uint16_t port, const std::string& readyToken) {
  std::unique_ptr<Server> server;
  try {
    server = std::make_unique<Server>(port);
  } catch (const wire::Error& e) {
    console::error(std::string("error: server: ") + e.what() + "\n");
    return 1;
  }
  server->run(readyToken);
}

}  // namespace bridge
