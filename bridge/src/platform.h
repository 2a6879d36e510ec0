// The one seam between the tool and the operating system: TCP sockets with deadlines, the
// detached background server, environment and process facts. platform_posix.cpp and
// platform_win.cpp implement it; nothing else in the tool includes an OS header.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec.h"

namespace plat {

using wire::Deadline;

// Starts the socket library (WSAStartup on Windows) and ignores SIGPIPE on POSIX.
void init();

class Socket : public wire::ByteStream {
 public:
  Socket() = default;
  explicit Socket(std::intptr_t handle) : handle_(handle) {}
  Socket(Socket&& o) noexcept : handle_(o.handle_) { o.handle_ = -1; }
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() override { close(); }

  bool valid() const { return handle_ != -1; }
  std::intptr_t native() const { return handle_; }
  void close();

  std::size_t readSome(void* buf, std::size_t len, Deadline deadline) override;
  void writeAll(const void* buf, std::size_t len, Deadline deadline) override;
  // True when a read would not block (data or end of stream) before the deadline.
  bool waitReadable(Deadline deadline);

 private:
  std::intptr_t handle_ = -1;
};

// Index of the first socket in the list that is readable, or -1 when the deadline passes.
// Null entries are skipped, so a caller can leave a direction out of the wait.
int waitAnyReadable(Socket* const* sockets, int count, Deadline deadline);

// True when the peer of a loopback connection runs as the same user as this process: the
// server reads a client's file for it only then, or any local user could have it read files
// that only the server's user may read.
bool peerIsSameUser(const Socket& s);

// Kinds of connect failure a caller words differently.
enum class ConnectFailure { None, Refused, TimedOut, Other };
// Connects to a numeric IPv4 address. On failure returns an invalid socket, sets failure and
// reason (the OS's words).
Socket connectTcp(const std::string& ipv4, std::uint16_t port, Deadline deadline,
                  ConnectFailure& failure, std::string& reason);

class Listener {
 public:
  // Binds and listens on a numeric IPv4 address; port 0 picks a free one. Throws wire::Error.
  Listener(const std::string& ipv4, std::uint16_t port);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  std::uint16_t port() const { return port_; }
  // Blocks until a peer connects; retries on transient errors.
  Socket accept();
  // Stops taking connections: later connects are refused.
  void close();

 private:
  std::intptr_t handle_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> closed_{false};
};

// Starts the background server, detached: no console, no inherited handles, working folder the
// system's root. On POSIX a forked child runs serve(token) itself, which spares a second program
// start (most of what a first command waits for); on Windows this program starts again with the
// given arguments plus "--ready TOKEN". Returns true once the server called signalReady, false if
// it exits first or the deadline passes.
bool spawnServer(const std::function<int(const std::string& readyToken)>& serve,
                 const std::vector<std::string>& args, Deadline deadline, std::string& reason);
// Called by the server once it listens; token is what spawnServer passed after --ready.
void signalReady(const std::string& token);

std::string getEnv(const char* name);
// The path made absolute against the current folder (the server runs from another one).
std::string absolutePath(const std::string& path);
// Appends to a file by name, creating it; used by the wire trace. Silent on failure.
void appendToFile(const std::string& path, const std::string& text);
int processId();
// Ends the process at once with the given status, without running destructors.
[[noreturn]] void exitNow(int status);

}  // namespace plat
