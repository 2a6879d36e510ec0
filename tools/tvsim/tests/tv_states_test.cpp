// What a PC can see of the TV in each state an installation can fail on: the device-information
// service, the bridge port, and the installation itself.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "harness.h"
#include "raw_link.h"

namespace {

using rawlink::kSampleId;
using rawlink::kUploaded;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// How the bridge port takes a connection, before the PC says anything.
std::string bridgePort(int port) {
  int fd = rawlink::connectLoopback(port);
  if (fd < 0) return errno == ECONNREFUSED ? "refused" : "connect failed";
  // A TV that takes the PC waits for the PC's handshake: nothing comes.
  pollfd p{fd, POLLIN, 0};
  char byte;
  std::string seen;
  if (::poll(&p, 1, 1000) == 0)
    seen = "waits for the handshake";
  else if (ssize_t n = ::recv(fd, &byte, 1, 0); n == 0)
    seen = "closed";
  else
    seen = n < 0 && errno == ECONNRESET ? "reset" : "sent data unasked";
  ::close(fd);
  return seen;
}

TEST(TvStates, DeviceInformationAndTheBridgePort) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string developer;  // "developerMode developerIP" in the JSON
    std::string bridge;
  };
  const std::vector<Case> cases = {
      {"developer mode on", {}, 200, "1 127.0.0.1", "waits for the handshake"},
      {"developer mode off", {"--developer-mode", "off"}, 200, "0 0.0.0.0", "refused"},
      {"not restarted since", {"--developer-mode", "not-restarted"}, 200, "1 127.0.0.1", "reset"},
      {"another Host PC IP", {"--host-pc", "192.0.2.5"}, 200, "1 192.0.2.5", "closed"},
      {"a model without the service", {"--info-status", "404"}, 404, "", "waits for the handshake"},
      {"a model that wants authorisation", {"--info-status", "401"}, 401, "", "waits for the handshake"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = harness::tempDir("states");
    int infoPort = harness::freePort();
    auto args = c.args;
    args.insert(args.end(), {"--info-port", std::to_string(infoPort), "--model", "UE43TEST"});
    harness::TvSim tv(args, dir + "/state");
    auto reply = rawlink::httpGet(infoPort, "/api/v2/");
    EXPECT_EQ(reply.status, c.status);
    if (c.status == 200) {
      auto [mode, ip] = [&] {
        auto at = c.developer.find(' ');
        return std::pair{c.developer.substr(0, at), c.developer.substr(at + 1)};
      }();
      EXPECT_TRUE(has(reply.body, "\"developerMode\":\"" + mode + "\"")) << reply.body;
      EXPECT_TRUE(has(reply.body, "\"developerIP\":\"" + ip + "\"")) << reply.body;
      EXPECT_TRUE(has(reply.body, "\"modelName\":\"UE43TEST\"")) << reply.body;
      EXPECT_EQ(reply.body.front(), '{');
      EXPECT_EQ(reply.body.back(), '}');
    }
    EXPECT_EQ(rawlink::httpGet(infoPort, "/api/v1/").status, c.status == 200 ? 404 : c.status);
    EXPECT_EQ(bridgePort(tv.port()), c.bridge);
  }
}

TEST(TvStates, InstallationsThatFailOrAreNotKept) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> commands;  // command, part of its output
    bool listed;                                                // in applist afterwards
  };
  const std::string tag = "app_id[" + kSampleId + "] ";
  const std::string install = "0 vd_appinstall " + kSampleId + " " + kUploaded;
  const std::vector<Case> cases = {
      {"a copy by another author that cannot be removed",
       {"--foreign-app", kSampleId},
       {{"0 vd_appuninstall " + kSampleId, tag + "uninstall failed[132]\n"},
        {install, tag + "install failed[118, -11], reason: Author certificate not match :\n"}},
       true},
      {"installed but not kept", {"--fault", "forget-install"}, {{install, tag + "install completed\n"}}, false},
      {"no free space", {"--fault", "install:116"}, {{install, tag + "download failed[116]\n"}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = harness::tempDir("installs");
    auto args = rawlink::sampleReadyToInstall(dir, dir + "/state");
    args.insert(args.end(), c.args.begin(), c.args.end());
    harness::TvSim tv(args, dir + "/state");
    rawlink::RawLink link(tv.port());
    for (const auto& [command, expected] : c.commands) {
      std::string out = link.shell(command);
      EXPECT_TRUE(has(out, expected)) << command << "\n" << out;
    }
    EXPECT_EQ(has(link.shell("0 applist"), "\t'TestApp'\t '" + kSampleId + "'\r\n"), c.listed);
  }
}

TEST(TvStates, ALockedTvRefusesEveryService) {
  std::string dir = harness::tempDir("locked");
  harness::TvSim tv({"--locked"}, dir + "/state");
  rawlink::RawLink link(tv.port());
  for (const char* service : {"shell:0 applist", "sync:", "capability:"}) {
    auto packets = link.runService(service);
    ASSERT_EQ(packets.size(), 1u) << service;
    EXPECT_EQ(packets[0].arg0, 0u) << service;  // CLSE(0, ours): refused, never opened
  }
}

}  // namespace
