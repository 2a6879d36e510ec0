// Prints figures, on loopback only: push throughput of a 64 MiB file through iu against a raw
// TCP copy of the same bytes, the installer's eleven invocations against eleven bare
// `iu version` runs, and the background server's peak memory for a small and a large push.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "harness.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBig = 64u << 20;
constexpr int kRounds = 5;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Peak resident memory of a process so far, in KiB (VmHWM).
long peakKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// The same bytes over a plain loopback TCP connection, written to a file on the far side as
// tvsim does; seconds.
double rawCopy(const std::string& from, const std::string& to) {
  int port = 0;
  int l = harness::bindLoopback(port);
  ::listen(l, 1);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(std::uint16_t(port));
  std::thread receiver([&] {
    int c = ::accept(l, nullptr, nullptr);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::vector<char> buf(256 * 1024);
    while (true) {
      ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      out.write(buf.data(), n);
    }
    ::close(c);
  });
  auto t = Clock::now();
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::ifstream in(from, std::ios::binary);
  std::vector<char> buf(64 * 1024);
  while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0) {
    const char* p = buf.data();
    std::size_t left = std::size_t(in.gcount());
    while (left > 0) {
      ssize_t n = ::send(s, p, left, 0);
      if (n <= 0) break;
      p += n;
      left -= std::size_t(n);
    }
  }
  ::close(s);
  receiver.join();
  double secs = since(t);
  ::close(l);
  return secs;
}

// True once something accepts TCP connections on the loopback port.
bool listening(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  std::string dir = harness::tempDir("bench");
  std::string big = dir + "/big.bin", small = dir + "/small.bin";
  {
    std::mt19937_64 rng(1);
    std::string bytes(kBig, '\0');
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t v = rng();
      std::memcpy(&bytes[i], &v, 8);
    }
    harness::writeFile(big, bytes);
    harness::writeFile(small, bytes.substr(0, 1u << 20));
  }
  const std::string upload = "/home/owner/share/tmp/sdk_tools/tmp";

  // Push: a server in the foreground, so that its memory can be read.
  harness::TvSim tv({"--generation", "2019"}, dir + "/tv");
  harness::Bridge b;
  pid_t server = ::fork();
  if (server == 0) {
    ::setenv("IU_SERVER_PORT", b.env["IU_SERVER_PORT"].c_str(), 1);
    ::execl(IU_PATH, "iu", "server", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Probed without iu, which would start a server of its own and race this one for the port.
  for (int i = 0; i < 100 && !listening(std::stoi(b.env["IU_SERVER_PORT"])); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (b.iu({"connect", tv.address()}).status != 0) {
    std::fprintf(stderr, "bench: cannot connect to tvsim\n");
    return 1;
  }
  b.iu({"push", small, upload + "/small.bin"});
  long smallPeak = peakKiB(server);
  std::vector<double> pushes, raws;
  for (int i = 0; i < 3; ++i) {
    auto t = Clock::now();
    auto r = b.iu({"push", big, upload + "/big.bin"}, std::chrono::seconds(120));
    pushes.push_back(since(t));
    if (r.status != 0) {
      std::fprintf(stderr, "bench: push failed: %s\n", r.err.c_str());
      return 1;
    }
    raws.push_back(rawCopy(big, dir + "/raw.bin"));
  }
  long bigPeak = peakKiB(server);
  b.iu({"kill-server"});
  ::waitpid(server, nullptr, 0);
  double push = median(pushes), raw = median(raws);
  std::printf("push 64 MiB through iu:   %7.1f MiB/s (median of 3, %.3f s)\n", 64 / push, push);
  std::printf("raw loopback TCP copy:    %7.1f MiB/s (median of 3, %.3f s)\n", 64 / raw, raw);
  std::printf("push / raw ratio:         %7.2f\n", raw / push);
  std::printf("server peak memory:       %7ld KiB after a 1 MiB push, %ld KiB after 64 MiB pushes\n",
              smallPeak, bigPeak);

  // The installer's eleven invocations, against eleven bare process starts.
  std::string pem = dir + "/ca";
  harness::writeFile(pem + "-author.pem", harness::issuerPem(harness::readFile(TESTDATA_DIR "/wgt/author-signature.xml")));
  harness::writeFile(pem + "-distributor.pem", harness::issuerPem(harness::readFile(TESTDATA_DIR "/wgt/signature1.xml")));
  harness::TvSim tv2({"--author-ca", pem + "-author.pem", "--distributor-ca", pem + "-distributor.pem",
                      "--verify-time", "2018-06-01T00:00:00"}, dir + "/tv2");
  std::string wgt = dir + "/Velmora.wgt";
  harness::writeFile(wgt, harness::storedZip(harness::readTree(TESTDATA_DIR "/wgt")));
  const std::string id = "N75lVtaOnD.TestApp", remote = upload + "/Velmora.wgt";
  const std::vector<std::vector<std::string>> sequence = {
      {"kill-server"},
      {"connect", tv2.address()},
      {"devices"},
      {"shell", "0", "getappinstallpath"},
      {"shell", "0", "vd_appuninstall", id + ";", "echo", "cmd_ret:$?;"},
      {"shell", "0", "mkdir", upload},
      {"push", wgt, remote},
      {"shell", "0", "vd_appinstall", id, remote + ";", "echo", "cmd_ret:$?;"},
      {"shell", "0", "rmfile", remote},
      {"shell", "0", "applist"},
      {"kill-server"}};
  std::vector<double> sequences, floors, tvChecks;
  for (int round = 0; round < kRounds; ++round) {
    harness::Bridge s;
    auto t = Clock::now();
    std::string installed;
    for (const auto& args : sequence) {
      auto r = s.iu(args);
      if (args.size() > 2 && args[2] == "vd_appinstall") installed = r.out;
    }
    sequences.push_back(since(t));
    // The simulated TV's own package check, as it reports it: TV time, not the tool's.
    auto at = installed.find("spend time for wascmd is [");
    tvChecks.push_back(at == std::string::npos ? 0 : std::stod(installed.substr(at + 26)) / 1000);
    if (installed.find("install completed") == std::string::npos) {
      std::fprintf(stderr, "bench: the sequence did not install: %s\n", installed.c_str());
      return 1;
    }
    t = Clock::now();
    for (int i = 0; i < 11; ++i) s.iu({"version"});
    floors.push_back(since(t));
  }
  double seq = median(sequences), floor = median(floors), check = median(tvChecks);
  std::printf("eleven invocations:       %7.1f ms (median of %d)\n", seq * 1000, kRounds);
  std::printf("  of which tvsim's check: %7.1f ms (its 'spend time for wascmd')\n", check * 1000);
  std::printf("eleven `iu version`:      %7.1f ms (median of %d)\n", floor * 1000, kRounds);
  std::printf("sequence / floor ratio:   %7.2f (%.2f without tvsim's package check)\n", seq / floor,
              (seq - check) / floor);
  return 0;
}
