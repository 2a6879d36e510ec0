#include "harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace harness {

namespace {

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, int out, int err) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::dup2(out, 1);
  ::dup2(err, 2);
  int null = ::open("/dev/null", O_RDONLY);
  ::dup2(null, 0);
  ::close_range(3, ~0u, 0);
  for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

}  // namespace

Result run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
           std::chrono::milliseconds limit) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  auto start = std::chrono::steady_clock::now();
  pid_t pid = spawn(argv, env, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  bool killed = false;
  // The output pipes close when iu exits; the server it starts does not hold them.
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, int(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[65536];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, std::size_t(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

int bindLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int freePort() {
  int port = 0;
  ::close(bindLoopback(port));
  return port;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

namespace {

// Removes the scratch folders of a test program when it ends.
struct ScratchFolders {
  std::vector<std::filesystem::path> dirs;
  ~ScratchFolders() {
    std::error_code ec;
    for (const auto& d : dirs) std::filesystem::remove_all(d, ec);
  }
};

ScratchFolders scratch;

}  // namespace

std::string tempDir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("velmora-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  scratch.dirs.push_back(dir);
  return dir.string();
}

std::map<std::string, std::string> readTree(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file())
      files[std::filesystem::relative(e.path(), dir).generic_string()] = readFile(e.path().string());
  return files;
}

namespace {

void le(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

}  // namespace

std::string storedZip(const std::map<std::string, std::string>& files) {
  std::string zip, central;
  for (const auto& [name, data] : files) {
    auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    std::uint32_t offset = std::uint32_t(zip.size());
    le(zip, 0x04034b50, 4), le(zip, 20, 2), le(zip, 0, 2), le(zip, 0, 2), le(zip, 0, 4);
    le(zip, crc, 4), le(zip, std::uint32_t(data.size()), 4), le(zip, std::uint32_t(data.size()), 4);
    le(zip, std::uint32_t(name.size()), 2), le(zip, 0, 2);
    zip += name + data;
    le(central, 0x02014b50, 4), le(central, 20, 2), le(central, 20, 2), le(central, 0, 2);
    le(central, 0, 2), le(central, 0, 4), le(central, crc, 4);
    le(central, std::uint32_t(data.size()), 4), le(central, std::uint32_t(data.size()), 4);
    le(central, std::uint32_t(name.size()), 2), le(central, 0, 2), le(central, 0, 2);
    le(central, 0, 2), le(central, 0, 2), le(central, 0, 4), le(central, offset, 4);
    central += name;
  }
  std::uint32_t cdOffset = std::uint32_t(zip.size());
  zip += central;
  le(zip, 0x06054b50, 4), le(zip, 0, 2), le(zip, 0, 2);
  le(zip, std::uint32_t(files.size()), 2), le(zip, std::uint32_t(files.size()), 2);
  le(zip, std::uint32_t(central.size()), 4), le(zip, cdOffset, 4), le(zip, 0, 2);
  return zip;
}

std::string issuerPem(const std::string& signatureXml) {
  std::regex cert("<X509Certificate>([^<]*)</X509Certificate>");
  std::vector<std::string> found;
  for (std::sregex_iterator it(signatureXml.begin(), signatureXml.end(), cert), end; it != end; ++it)
    found.push_back((*it)[1]);
  if (found.size() < 2) throw std::runtime_error("signature holds no issuing CA");
  std::string b64;
  for (char c : found[1])
    if (!std::isspace(static_cast<unsigned char>(c))) b64.push_back(c);
  std::string pem = "-----BEGIN CERTIFICATE-----\n";
  for (std::size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\n";
  return pem + "-----END CERTIFICATE-----\n";
}

TvSim::TvSim(const std::vector<std::string>& args, const std::string& stateDir) : state_(stateDir) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> argv = {TVSIM_PATH, "--listen", "127.0.0.1:0", "--state", stateDir};
  argv.insert(argv.end(), args.begin(), args.end());
  int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_ = spawn(argv, {}, out[1], null);
  ::close(out[1]);
  ::close(null);
  // The first line names the port it listens on.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
    char buf[256];
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, std::size_t(n));
  }
  ::close(out[0]);
  std::smatch m;
  if (!std::regex_search(line, m, std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)")))
    throw std::runtime_error("tvsim did not start: " + line);
  port_ = std::stoi(m[1]);
}

TvSim::~TvSim() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

Bridge::Bridge() { env["IU_SERVER_PORT"] = std::to_string(freePort()); }

Bridge::~Bridge() { iu({"kill-server"}, std::chrono::seconds(10)); }

Result Bridge::iu(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
  std::vector<std::string> argv = {IU_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, env, limit);
}

}  // namespace harness
