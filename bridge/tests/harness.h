// Test support: run iu and tvsim as real processes on loopback, with bounded waits.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace harness {

struct Result {
  int status = -1;  // exit status; -1 when killed at the time limit
  std::string out, err;
  double seconds = 0;
};

// Runs argv with extra environment entries; kills it after limit.
Result run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
           std::chrono::milliseconds limit = std::chrono::seconds(30));

// A socket bound to 127.0.0.1 on a port the system picks; port receives that port.
int bindLoopback(int& port);

// A loopback port nobody listens on right now.
int freePort();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// A fresh scratch folder, removed when the program ends.
std::string tempDir(const std::string& name);

// Every file under dir, by its path relative to dir with "/" separators.
std::map<std::string, std::string> readTree(const std::string& dir);
// A ZIP archive of the files, stored without compression.
std::string storedZip(const std::map<std::string, std::string>& files);

// The issuing CA of a signature file's signer (its second X509Certificate), as PEM text.
std::string issuerPem(const std::string& signatureXml);

// tvsim in the background; stopped when this goes away.
class TvSim {
 public:
  TvSim(const std::vector<std::string>& args, const std::string& stateDir);
  ~TvSim();
  TvSim(const TvSim&) = delete;
  TvSim& operator=(const TvSim&) = delete;
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& state() const { return state_; }

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string state_;
};

// A private background server port for one test, and iu run against it.
class Bridge {
 public:
  Bridge();
  ~Bridge();
  Result iu(const std::vector<std::string>& args, std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
  std::map<std::string, std::string> env;
};

}  // namespace harness
