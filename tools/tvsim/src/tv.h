// The simulated TV: its settings, its file system and installed applications in a state
// folder, and the "0 ..." command set of its developer-mode shell.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "verify.h"

namespace tvsim {

enum class Fault {
  CloseOnAccept,  // accept the TCP connection and close it at once
  NoHandshake,    // read the PC's CNXN and never answer
  CorruptHeader,  // answer CNXN with a header whose magic is wrong
  RefuseService,  // answer every OPEN with CLSE
  Stall,          // accept a service, then never send or ack anything
  FailPush,       // answer a finished file transfer with FAIL
  ForgetInstall,  // print "install completed" for a good package but keep no app
};

// Developer mode as the TV's settings and restarts left it.
enum class DeveloperMode {
  On,
  Off,           // the bridge port refuses connections; device information says "0"
  NotRestarted,  // switched on but the TV not restarted since: the bridge port resets connections
};

// When the TV broadcasts its lock state (STAT) on a link.
enum class LockBroadcast {
  None,
  AtConnect,  // once, right after its handshake
  Toggle,     // at connect, and during every shell command the opposite state, then back
};

struct Config {
  std::string listenHost = "127.0.0.1";
  std::uint16_t port = 26101;
  std::string hostPc = "127.0.0.1";  // the "Host PC IP" set in developer mode
  std::string model = "UE43RU7400UXRU";
  int generation = 2019;  // 2016 or 2019
  std::string stateDir;
  TrustStore trust;
  std::set<Fault> faults;
  std::optional<int> installFailure;  // forced: -1..-7, -11, 116 or 118
  bool locked = false;                // a locked TV refuses every service
  DeveloperMode developerMode = DeveloperMode::On;
  std::optional<std::uint16_t> infoPort;  // the device-information service; 0 picks a port
  std::optional<int> infoStatus;          // 401 or 404 instead of the device information
  // An app of this id from another author, which the TV refuses to uninstall.
  std::optional<std::string> foreignApp;
  LockBroadcast lockBroadcast = LockBroadcast::None;
  // From "install start" to "install completed", spread over the progress lines.
  std::chrono::milliseconds installDuration{0};
};

// Where a command's output goes, piece by piece as it is produced.
using Output = std::function<void(std::string_view)>;
// The statements of one shell service, each split into words.
using Program = std::vector<std::vector<std::string>>;

class Tv {
 public:
  explicit Tv(Config c);
  const Config& config() const { return config_; }

  std::uint32_t maxPayload(std::uint32_t hostMax) const;
  std::string capability() const;
  std::string uploadFolder() const;

  // The program in the text of a shell service; nullopt when the TV refuses it (anything but
  // the "0 ..." commands and echo), which it decides before it accepts the service.
  static std::optional<Program> parseShell(const std::string& text);
  // Runs a program, one at a time as the TV's installer does; may take the install duration.
  void run(const Program& program, const Output& out);

  // Maps a TV path into the state folder. Writable only under the upload folder.
  std::optional<std::string> localPath(const std::string& tvPath, bool forWriting) const;

 private:
  int command(const std::vector<std::string>& words, const Output& out);
  int install(const std::string& id, const std::string& path, const Output& out);
  int uninstall(const std::string& id, const Output& out);
  int applist(const Output& out);

  struct App {
    std::string id, name, author;
  };
  std::vector<App> loadApps() const;
  void saveApps(const std::vector<App>& apps) const;

  Config config_;
  std::mutex m_;  // one program at a time
};

}  // namespace tvsim
