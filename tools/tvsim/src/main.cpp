// tvsim: a simulated TV in developer mode, for tests and the demo.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "codec.h"
#include "device_info.h"
#include "link.h"
#include "tv.h"
#include "verify.h"

namespace {

const char kUsage[] =
    "usage: tvsim --state DIR [options]\n"
    "  --listen ADDR:PORT     loopback address to listen on (127.0.0.1:26101; port 0 picks one)\n"
    "  --host-pc ADDR         the only PC address accepted, the TV's Host PC IP (127.0.0.1)\n"
    "  --model NAME           model name shown by 'devices' (UE43RU7400UXRU)\n"
    "  --generation 2016|2019 firmware generation (2019)\n"
    "  --author-ca FILE       PEM trust anchor for author signatures (repeatable)\n"
    "  --distributor-ca FILE  PEM trust anchor for distributor signatures (repeatable)\n"
    "  --verify-time T        check certificates at T (YYYY-MM-DDTHH:MM:SS, UTC) instead of now\n"
    "  --locked               report the TV as locked; it refuses every service\n"
    "  --lock-broadcast MODE  send STAT lock-state packets: connect (after the handshake) |\n"
    "                         toggle (also the opposite state during every shell command)\n"
    "  --install-duration S   seconds from 'install start' to 'install completed' (0, or\n"
    "                         TVSIM_INSTALL_DURATION from the environment)\n"
    "  --developer-mode MODE  on | off (bridge port refuses connections) | not-restarted\n"
    "                         (bridge port resets connections) (on)\n"
    "  --info-port PORT       serve device information over HTTP on PORT of the listen address\n"
    "                         (0 picks one; off when not given)\n"
    "  --info-status 401|404  answer device-information requests with this status\n"
    "  --foreign-app ID       an app of ID by another author is installed and cannot be removed\n"
    "  --fault MODE           close-on-accept | no-handshake | corrupt-header | refuse-service |\n"
    "                         stall | fail-push | forget-install |\n"
    "                         install:CODE (CODE -1..-7, -11, 116, 118)\n";

std::string readPem(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  if (s.str().find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    throw std::invalid_argument(path + " holds no PEM certificate");
  return s.str();
}

std::time_t parseTime(const std::string& t) {
  std::tm tm{};
  std::istringstream in(t);
  in >> std::get_time(&tm, "%Y-%m-%dT%H:%M:%S");
  if (in.fail() || in.peek() != EOF) throw std::invalid_argument("not a time: " + t);
  return timegm(&tm);
}

void parseFault(const std::string& f, tvsim::Config& c) {
  static const std::map<std::string, tvsim::Fault> names = {{"close-on-accept", tvsim::Fault::CloseOnAccept},
                                                            {"no-handshake", tvsim::Fault::NoHandshake},
                                                            {"corrupt-header", tvsim::Fault::CorruptHeader},
                                                            {"refuse-service", tvsim::Fault::RefuseService},
                                                            {"stall", tvsim::Fault::Stall},
                                                            {"fail-push", tvsim::Fault::FailPush},
                                                            {"forget-install", tvsim::Fault::ForgetInstall}};
  if (auto it = names.find(f); it != names.end()) {
    c.faults.insert(it->second);
    return;
  }
  if (f.rfind("install:", 0) == 0) {
    static const std::map<std::string, int> codes = {{"-1", -1}, {"-2", -2}, {"-3", -3},   {"-4", -4},   {"-5", -5},
                                                     {"-6", -6}, {"-7", -7}, {"-11", -11}, {"116", 116}, {"118", 118}};
    if (auto it = codes.find(f.substr(8)); it != codes.end()) {
      c.installFailure = it->second;
      return;
    }
  }
  throw std::invalid_argument("unknown fault mode: " + f);
}

std::chrono::milliseconds parseSeconds(const std::string& v) {
  std::size_t used = 0;
  double seconds = -1;
  try {
    seconds = std::stod(v, &used);
  } catch (const std::logic_error&) {
  }
  if (used != v.size() || !(seconds >= 0 && seconds <= 600))
    throw std::invalid_argument("--install-duration needs seconds from 0 to 600: " + v);
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

tvsim::Config parseArgs(int argc, char** argv) {
  tvsim::Config c;
  // A test suite that starts tvsim through its own harness runs under realistic timing this way.
  if (const char* d = std::getenv("TVSIM_INSTALL_DURATION")) c.installDuration = parseSeconds(d);
  std::vector<std::string> authorCaPem, distributorCaPem;
  std::optional<std::time_t> verifyTime;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--locked") {
      c.locked = true;
      continue;
    }
    if (i + 1 >= argc) throw std::invalid_argument(a == "--help" ? "" : "missing value or unknown option: " + a);
    std::string v = argv[++i];
    if (a == "--listen") {
      bool anyPort = v.size() > 2 && v.compare(v.size() - 2, 2, ":0") == 0;
      auto t = wire::parseTarget(anyPort ? v.substr(0, v.size() - 2) : v);
      if (!t || t->host.rfind("127.", 0) != 0) throw std::invalid_argument("--listen needs a loopback ADDR:PORT");
      c.listenHost = t->host;
      c.port = anyPort ? 0 : t->port;
    } else if (a == "--host-pc") {
      if (!wire::parseTarget(v) || v.find(':') != std::string::npos)
        throw std::invalid_argument("--host-pc needs an IPv4 address");
      c.hostPc = v;
    } else if (a == "--model") {
      c.model = v;
    } else if (a == "--generation") {
      if (v != "2016" && v != "2019") throw std::invalid_argument("--generation is 2016 or 2019");
      c.generation = std::stoi(v);
    } else if (a == "--state") {
      c.stateDir = v;
    } else if (a == "--author-ca") {
      authorCaPem.push_back(readPem(v));
    } else if (a == "--distributor-ca") {
      distributorCaPem.push_back(readPem(v));
    } else if (a == "--verify-time") {
      verifyTime = parseTime(v);
    } else if (a == "--lock-broadcast") {
      if (v != "connect" && v != "toggle") throw std::invalid_argument("--lock-broadcast is connect or toggle");
      c.lockBroadcast = v == "connect" ? tvsim::LockBroadcast::AtConnect : tvsim::LockBroadcast::Toggle;
    } else if (a == "--install-duration") {
      c.installDuration = parseSeconds(v);
    } else if (a == "--developer-mode") {
      static const std::map<std::string, tvsim::DeveloperMode> modes = {
          {"on", tvsim::DeveloperMode::On},
          {"off", tvsim::DeveloperMode::Off},
          {"not-restarted", tvsim::DeveloperMode::NotRestarted}};
      auto it = modes.find(v);
      if (it == modes.end()) throw std::invalid_argument("--developer-mode is on, off or not-restarted");
      c.developerMode = it->second;
    } else if (a == "--info-port") {
      auto t = wire::parseTarget("0.0.0.0:" + v);
      if (!t && v != "0") throw std::invalid_argument("--info-port needs a port number");
      c.infoPort = t ? t->port : 0;
    } else if (a == "--info-status") {
      if (v != "401" && v != "404") throw std::invalid_argument("--info-status is 401 or 404");
      c.infoStatus = std::stoi(v);
    } else if (a == "--foreign-app") {
      c.foreignApp = v;
    } else if (a == "--fault") {
      parseFault(v, c);
    } else {
      throw std::invalid_argument("unknown option: " + a);
    }
  }
  if (c.stateDir.empty()) throw std::invalid_argument("--state DIR is required");
  c.trust = tvsim::TrustStore(authorCaPem, distributorCaPem, verifyTime);
  return c;
}

// Port 0 is allowed so that tests can run side by side: the real one is printed.
int bindTo(const std::string& host, std::uint16_t wanted, std::uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(wanted);
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("cannot bind " + host + ":" + std::to_string(wanted) + ": " + std::strerror(errno));
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

void listenOn(int fd, const std::string& host, std::uint16_t port) {
  if (::listen(fd, 16) != 0)
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  tvsim::Config config;
  try {
    config = parseArgs(argc, argv);
  } catch (const std::exception& e) {
    if (*e.what()) std::fprintf(stderr, "tvsim: %s\n", e.what());
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    tvsim::initVerifier();
    tvsim::Tv tv(config);
    const tvsim::Config& c = tv.config();
    std::uint16_t port = 0, infoPort = 0;
    // With developer mode off the bridge port is held but closed: connecting is refused.
    int listener = bindTo(c.listenHost, c.port, port);
    if (c.developerMode != tvsim::DeveloperMode::Off) listenOn(listener, c.listenHost, port);
    int info = c.infoPort ? bindTo(c.listenHost, *c.infoPort, infoPort) : -1;
    if (info >= 0) listenOn(info, c.listenHost, infoPort);
    std::printf("tvsim: listening on %s:%u (model %s, generation %d%s)\n", c.listenHost.c_str(), unsigned(port),
                c.model.c_str(), c.generation,
                c.developerMode == tvsim::DeveloperMode::Off            ? ", developer mode off: connections refused"
                : c.developerMode == tvsim::DeveloperMode::NotRestarted ? ", not restarted: connections reset"
                                                                        : "");
    if (info >= 0)
      std::printf("tvsim: device information on http://%s:%u/api/v2/\n", c.listenHost.c_str(), unsigned(infoPort));
    std::fflush(stdout);
    if (info >= 0) std::thread([&c, info, infoPort] { tvsim::serveDeviceInfo(c, info, infoPort); }).detach();
    while (c.developerMode == tvsim::DeveloperMode::Off) ::pause();
    int one = 1;
    while (true) {
      int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        throw std::runtime_error(std::string("accept: ") + std::strerror(errno));
      }
      // Small packets go out at once, as the TV's daemon sends them.
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::thread([&tv, fd] { tvsim::serveLink(tv, fd); }).detach();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tvsim: %s\n", e.what());
    return 1;
  }
}
