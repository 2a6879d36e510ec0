// The simulated TV: its settings, its file system and installed applications in a state
// folder, and the "0 ..." command set of its developer-mode shell.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "verify.h"

namespace tvsim {

enum class Fault {
  CloseOnAccept,   // accept the TCP connection and close it at once
  NoHandshake,     // read the PC's CNXN and never answer
  CorruptHeader,   // answer CNXN with a header whose magic is wrong
  RefuseService,   // answer every OPEN with CLSE
  Stall,           // accept a service, then never send or ack anything
  FailPush,        // answer a finished file transfer with FAIL
};

struct Config {
  std::string listenHost = "127.0.0.1";
  std::uint16_t port = 26101;
  std::string hostPc = "127.0.0.1";  // the "Host PC IP" set in developer mode
  std::string model = "UE43RU7400UXRU";
  int generation = 2019;             // 2016 or 2019
  std::string stateDir;
  TrustStore trust;
  std::set<Fault> faults;
  std::optional<int> installFailure;  // forced: -1..-7, -11, 116 or 118
  bool locked = false;
};

class Tv {
 public:
  explicit Tv(Config c);
  const Config& config() const { return config_; }

  std::uint32_t maxPayload(std::uint32_t hostMax) const;
  std::string capability() const;
  std::string uploadFolder() const;

  // Runs the text of a shell service. Returns false when the TV refuses it (anything but the
  // "0 ..." commands and echo); otherwise appends the output.
  bool shell(const std::string& text, std::string& output);

  // Maps a TV path into the state folder. Writable only under the upload folder.
  std::optional<std::string> localPath(const std::string& tvPath, bool forWriting) const;

 private:
  int run(const std::vector<std::string>& words, std::string& out);
  int install(const std::string& id, const std::string& path, std::string& out);
  int uninstall(const std::string& id, std::string& out);
  int applist(std::string& out);

  struct App {
    std::string id, name, author;
  };
  std::vector<App> loadApps() const;
  void saveApps(const std::vector<App>& apps) const;

  Config config_;
  std::mutex m_;  // one command at a time, as the TV's installer does
};

}  // namespace tvsim
