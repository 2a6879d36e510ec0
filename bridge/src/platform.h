// The one seam between the tool and the operating system: TCP sockets with deadlines, the
// detached background server, environment and process facts. platform_posix.cpp and
// platform_win.cpp implement it; nothing else in the tool includes an OS header.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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
Socket connectTcp(const std::string& ipv4, std::uint16_t port, Deadline deadline, ConnectFailure& failure,
                  std::string& reason);

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
bool spawnServer(const std::function<int(const std::string& readyToken)>& serve, const std::vector<std::string>& args,
                 Deadline deadline, std::string& reason);
// Called by the server once it listens; token is what spawnServer passed after --ready.
void signalReady(const std::string& token);

// A regular file opened for reading. Anything else (a folder, a pipe, a device) is refused
// before it is opened or at once after, never waited on: a pipe or an endless device would
// hold the TV for ever. Reads stop at the size the file had when it was opened.
class InputFile {
 public:
  InputFile() = default;
  InputFile(InputFile&& o) noexcept;
  InputFile& operator=(InputFile&& o) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Paths are UTF-8. False with the reason in the user's words on failure.
  bool open(const std::string& path, std::string& reason);
  // Up to len bytes, 0 once size() bytes were read; throws wire::Error with the OS's reason,
  // or when the file ends before its size (it shrank while being read).
  std::size_t read(void* buf, std::size_t len);
  std::uint64_t size() const { return size_; }
  std::uint32_t mtime() const { return mtime_; }  // seconds since 1970

 private:
  void close();
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0, left_ = 0;
  std::uint32_t mtime_ = 0;
};

// The server marks that it runs on a port for its whole life, so that a client can tell at once
// that none runs: on Windows a connect to a closed loopback port costs 1 to 2 s (the SYN is
// retried after each reset), twice per installation. Linux refuses such a connect at once, so
// there the mark is not needed and a client just connects.
class ServerMark {
 public:
  explicit ServerMark(std::uint16_t port);
  ~ServerMark();
  ServerMark(const ServerMark&) = delete;
  ServerMark& operator=(const ServerMark&) = delete;
  // Taken away before the server answers a kill, so that no later client trusts it.
  void release();
  // True only when no server of this user runs on the port for certain.
  static bool knownAbsent(std::uint16_t port);

 private:
  std::intptr_t handle_ = 0;
};

enum class StdStream { Out, Err };
// Writes to standard output or error, unbuffered; on a Windows console as UTF-16 text.
void writeStd(StdStream stream, std::string_view bytes);
// True when standard output is neither a terminal nor the same file as standard error: a
// redirected log that would otherwise lack the errors.
bool stdoutIsSeparateLog();

std::string getEnv(const char* name);
// The path made absolute against the current folder (the server runs from another one).
std::string absolutePath(const std::string& path);
// Appends to a file by name, creating it; used by the wire trace. Silent on failure.
void appendToFile(const std::string& path, const std::string& text);
int processId();
// Ends the process at once with the given status, without running destructors.
[[noreturn]] void exitNow(int status);

#ifdef _WIN32
// The arguments after the program's name, as the system passes them (UTF-16), in UTF-8.
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv);
#endif

}  // namespace plat
