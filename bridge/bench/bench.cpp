// Prints figures, on loopback only: push throughput of a 64 MiB file through iu against a raw
// TCP copy of the same bytes, the installer's eleven invocations against eleven bare
// `iu version` runs, the background server's peak memory for a small and a large push, and the
// connects to a closed server port an installation makes. Every figure rests on at least a
// second of work, so that it holds from run to run.
//   bridge_bench [IU_EXE]   with the Windows build's iu.exe, that count is also taken under Wine
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
// Each figure is summed over rounds until it holds this much work, and over this many at least.
constexpr double kWorkSeconds = 1.0;
constexpr int kMinRounds = 3;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Runs round() until the seconds it reports add up to kWorkSeconds (kMinRounds at least);
// returns the total and the count.
template <class Round>
std::pair<double, int> accumulate(Round round) {
  double total = 0;
  int n = 0;
  while (n < kMinRounds || total < kWorkSeconds) {
    total += round();
    ++n;
  }
  return {total, n};
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

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

// The client's connects to a closed server port, and the times the server's mark spared one,
// in an installation's first two invocations (kill-server with no server, then a command
// that starts one) and its last; from the wire trace of iu run by `prefix` (empty: natively).
std::pair<std::size_t, std::size_t> closedPortConnects(const std::vector<std::string>& prefix, const std::string& iu,
                                                       const std::string& dir) {
  harness::Bridge s;
  const std::string trace = dir + "/closed-port-trace.txt";
  std::remove(trace.c_str());
  s.env["IU_TRACE"] = trace;
  for (const char* command : {"kill-server", "devices", "kill-server"}) {
    std::vector<std::string> argv = prefix;
    argv.push_back(iu);
    argv.push_back(command);
    harness::run(argv, s.env);
  }
  std::string text = harness::readFile(trace);
  return {count(text, " refused\n"), count(text, "no server runs on port")};
}

}  // namespace

int main(int argc, char** argv) {
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
  // Push and raw copy in turns, so that both meet the same load on the machine.
  double push = 0, raw = 0;
  int pushes = 0;
  while (pushes < kMinRounds || push < kWorkSeconds || raw < kWorkSeconds) {
    auto t = Clock::now();
    auto r = b.iu({"push", big, upload + "/big.bin"}, std::chrono::seconds(120));
    push += since(t);
    if (r.status != 0) {
      std::fprintf(stderr, "bench: push failed: %s\n", r.err.c_str());
      return 1;
    }
    raw += rawCopy(big, dir + "/raw.bin");
    ++pushes;
  }
  long bigPeak = peakKiB(server);
  b.iu({"kill-server"});
  ::waitpid(server, nullptr, 0);
  const double mib = 64.0 * pushes;
  std::printf("push 64 MiB through iu:   %7.1f MiB/s (%d pushes, %.2f s)\n", mib / push, pushes, push);
  std::printf("raw loopback TCP copy:    %7.1f MiB/s (%d copies, %.2f s)\n", mib / raw, pushes, raw);
  std::printf("push / raw ratio:         %7.2f\n", raw / push);
  std::printf("server peak memory:       %7ld KiB after a 1 MiB push, %ld KiB after %d pushes of 64 MiB\n", smallPeak,
              bigPeak, pushes);

  // The installer's eleven invocations, against eleven bare process starts.
  std::string pem = dir + "/ca";
  harness::writeFile(pem + "-author.pem",
                     harness::issuerPem(harness::readFile(TESTDATA_DIR "/wgt/author-signature.xml")));
  harness::writeFile(pem + "-distributor.pem",
                     harness::issuerPem(harness::readFile(TESTDATA_DIR "/wgt/signature1.xml")));
  harness::TvSim tv2({"--author-ca", pem + "-author.pem", "--distributor-ca", pem + "-distributor.pem", "--verify-time",
                      "2018-06-01T00:00:00"},
                     dir + "/tv2");
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
  // A sequence and eleven bare starts in turns, so that both meet the same load on the machine.
  double seq = 0, floor = 0, check = 0;
  int rounds = 0;
  while (rounds < kMinRounds || seq < kWorkSeconds || floor < kWorkSeconds) {
    harness::Bridge s;
    auto t = Clock::now();
    std::string out;
    for (const auto& args : sequence) {
      auto r = s.iu(args);
      if (args.size() > 2 && args[2] == "vd_appinstall") out = r.out;
    }
    seq += since(t);
    if (out.find("install completed") == std::string::npos) {
      std::fprintf(stderr, "bench: the sequence did not install: %s\n", out.c_str());
      return 1;
    }
    // The simulated TV's own package check, as it reports it: TV time, not the tool's.
    auto at = out.find("spend time for wascmd is [");
    if (at != std::string::npos) check += std::stod(out.substr(at + 26)) / 1000;
    t = Clock::now();
    for (int i = 0; i < 11; ++i) s.iu({"version"});
    floor += since(t);
    ++rounds;
  }
  seq /= rounds, check /= rounds, floor /= rounds;
  std::printf("eleven invocations:       %7.1f ms (mean of %d)\n", seq * 1000, rounds);
  std::printf("  of which tvsim's check: %7.1f ms (its 'spend time for wascmd')\n", check * 1000);
  std::printf("eleven `iu version`:      %7.1f ms (mean of %d)\n", floor * 1000, rounds);
  std::printf("sequence / floor ratio:   %7.2f (%.2f without tvsim's package check)\n", seq / floor,
              (seq - check) / floor);

  // Connects to a closed loopback port: at once here, 1 to 2 s each on Windows (the SYN is
  // retried after every reset). The Windows build asks the server's mark instead.
  auto [refused, spared] = closedPortConnects({}, IU_PATH, dir);
  auto [closedPort, closedPortRounds] = accumulate([&] {
    auto t = Clock::now();
    for (int i = 0; i < 1000; ++i) listening(harness::freePort());
    return since(t);
  });
  std::printf("closed server port:       %zu connects per installation natively (%.3f ms each here)\n", refused,
              closedPort / closedPortRounds);
  if (argc > 1) {
    // Output to /dev/null: a server Wine starts keeps the pipes it would otherwise inherit.
    auto [winRefused, winSpared] = closedPortConnects(
        {"/bin/sh", "-c", "WINEDEBUG=-all exec \"$@\" >/dev/null 2>&1", "sh", "/usr/bin/wine"}, argv[1], dir);
    std::printf(
        "  Windows build (Wine):   %zu connects, %zu answered by the server's mark: %.0f to %.0f s saved per\n"
        "                          installation on Windows at 1 to 2 s per connect\n",
        winRefused, winSpared, 1.0 * winSpared, 2.0 * winSpared);
  } else {
    std::printf("  (give the Windows build's iu.exe to count its connects under Wine; %zu spared natively)\n", spared);
  }
  return 0;
}
