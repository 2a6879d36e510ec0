// iu against tvsim on loopback: the installer's eleven invocations on both TV generations, and
// the cases around them.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "failure.h"
#include "harness.h"
#include "wire.h"

namespace {

namespace fs = std::filesystem;
using harness::Bridge;
using harness::TvSim;

const std::string kSample = TESTDATA_DIR "/wgt";
const std::string kNegativeHash = TESTDATA_DIR "/wgt_negative_hash";
const std::string kAppId = "N75lVtaOnD.TestApp";  // the id in the signed sample's config.xml

struct Generation {
  const char* year;
  const char* uploadFolder;
  const char* installRoot;
};

const Generation k2016{"2016", "/opt/usr/apps/tmp", "/opt/usr/apps"};
const Generation k2019{"2019", "/home/owner/share/tmp/sdk_tools/tmp", "/home/owner/share/tmp/sdk_tools"};

// A TV that trusts the sample's own issuing CAs, checking at a time inside their validity.
std::vector<std::string> trustingArgs(const std::string& dir, const Generation& g) {
  harness::writeFile(dir + "/author-ca.pem", harness::issuerPem(harness::readFile(kSample + "/author-signature.xml")));
  harness::writeFile(dir + "/distributor-ca.pem", harness::issuerPem(harness::readFile(kSample + "/signature1.xml")));
  return {"--generation",     g.year,
          "--model",          "UE43TEST",
          "--author-ca",      dir + "/author-ca.pem",
          "--distributor-ca", dir + "/distributor-ca.pem",
          "--verify-time",    "2018-06-01T00:00:00"};
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class InstallSequence : public ::testing::TestWithParam<Generation> {};

TEST_P(InstallSequence, TheElevenInvocationsInstallTheWidget) {
  const Generation& g = GetParam();
  std::string dir = harness::tempDir("sequence");
  TvSim tv(trustingArgs(dir, g), dir + "/state");
  Bridge b;
  std::string wgt = dir + "/Velmora.wgt";
  harness::writeFile(wgt, harness::storedZip(harness::readTree(kSample)));
  const std::string d = g.uploadFolder, remote = d + "/Velmora.wgt";
  const std::string onTv = tv.state() + "/fs" + remote;

  auto r = b.iu({"kill-server"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "info: server not running\n");

  r = b.iu({"connect", tv.address()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "* Server is not running. Start it now on port " + b.env["IU_SERVER_PORT"] + " *\n"));
  EXPECT_TRUE(has(r.out, "connecting to " + tv.address() + " ...\nconnected to " + tv.address() + "\n")) << r.out;

  r = b.iu({"devices"});
  std::string serial = tv.address() + std::string(20 - tv.address().size(), ' ');
  EXPECT_EQ(r.out, "List of devices attached \n" + serial + "\tdevice    \tUE43TEST\n");

  r = b.iu({"shell", "0", "getappinstallpath"});
  EXPECT_EQ(r.out, std::string(g.installRoot) + "\n");

  r = b.iu({"shell", "0", "vd_appuninstall", kAppId + ";", "echo", "cmd_ret:$?;"});
  EXPECT_TRUE(has(r.out, "uninstall " + kAppId + "\n")) << r.out;
  EXPECT_TRUE(has(r.out, "\ncmd_ret:0\n")) << r.out;

  r = b.iu({"shell", "0", "mkdir", d});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::is_directory(tv.state() + "/fs" + d));

  r = b.iu({"push", wgt, remote});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "1 file(s) pushed. 0 file(s) skipped.\n")) << r.out;
  EXPECT_EQ(harness::readFile(onTv), harness::readFile(wgt));

  r = b.iu({"shell", "0", "vd_appinstall", kAppId, remote + ";", "echo", "cmd_ret:$?;"});
  EXPECT_TRUE(has(r.out, "package_path " + remote + "\n")) << r.out;
  EXPECT_TRUE(has(r.out, "app_id[" + kAppId + "] install completed\n")) << r.out;
  EXPECT_TRUE(has(r.out, "\ncmd_ret:0\n")) << r.out;

  r = b.iu({"shell", "0", "rmfile", remote});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(fs::exists(onTv));

  r = b.iu({"shell", "0", "applist"});
  EXPECT_TRUE(has(r.out, "\t'TestApp'\t '" + kAppId + "'\r\n")) << r.out;

  r = b.iu({"kill-server"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(b.iu({"kill-server"}).out, "info: server not running\n");

  // A second installation run finds the widget and removes it first.
  b.iu({"connect", tv.address()});
  r = b.iu({"shell", "0", "vd_appuninstall", kAppId + ";", "echo", "cmd_ret:$?;"});
  EXPECT_TRUE(has(r.out, "app_id[" + kAppId + "] uninstall completed\n")) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Generations, InstallSequence, ::testing::Values(k2016, k2019),
                         [](const auto& info) { return std::string("TV") + info.param.year; });

class Push : public ::testing::TestWithParam<Generation> {};

TEST_P(Push, FilesOfEverySizeArriveWhole) {
  const Generation& g = GetParam();
  std::string dir = harness::tempDir("push");
  TvSim tv({"--generation", g.year}, dir + "/state");
  Bridge b;
  ASSERT_EQ(b.iu({"connect", tv.address()}).status, 0);
  std::mt19937 rng(7);
  // Empty, one byte, one sync chunk, one more, and more than one 256 KiB packet.
  for (std::size_t size : {0u, 1u, 65536u, 65537u, 600u * 1024 + 3}) {
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = char(rng());
    std::string local = dir + "/file" + std::to_string(size);
    harness::writeFile(local, bytes);
    std::string remote = std::string(g.uploadFolder) + "/sub/file" + std::to_string(size);
    auto r = b.iu({"push", local, remote});
    ASSERT_EQ(r.status, 0) << size << ": " << r.err;
    EXPECT_TRUE(has(r.out, "(" + std::to_string(size) + " bytes in ")) << r.out;
    EXPECT_EQ(harness::readFile(tv.state() + "/fs" + remote), bytes) << size;
  }
  // Into a folder: the file keeps its name.
  ASSERT_EQ(b.iu({"push", dir + "/file1", g.uploadFolder}).status, 0);
  EXPECT_TRUE(fs::exists(tv.state() + "/fs" + g.uploadFolder + "/file1"));
}

INSTANTIATE_TEST_SUITE_P(Generations, Push, ::testing::Values(k2016, k2019),
                         [](const auto& info) { return std::string("TV") + info.param.year; });

class Tool : public ::testing::Test {
 protected:
  std::string dir = harness::tempDir("tool");
  Bridge b;
};

TEST_F(Tool, APackageChangedAfterSigningIsRefused) {
  TvSim tv(trustingArgs(dir, k2019), dir + "/state");
  harness::writeFile(dir + "/bad.wgt", harness::storedZip(harness::readTree(kNegativeHash)));
  std::string remote = std::string(k2019.uploadFolder) + "/bad.wgt";
  b.iu({"connect", tv.address()});
  ASSERT_EQ(b.iu({"push", dir + "/bad.wgt", remote}).status, 0);
  auto r = b.iu({"shell", "0", "vd_appinstall", kAppId, remote + ";", "echo", "cmd_ret:$?;"});
  EXPECT_TRUE(has(r.out, "app_id[" + kAppId +
                             "] install failed[118, -12], reason: Check certificate error : "
                             ":Invalid signature:<-4>\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "cmd_ret:0\n"));
  EXPECT_FALSE(has(b.iu({"shell", "0", "applist"}).out, kAppId));
}

TEST_F(Tool, ASecondConnectKeepsTheFirst) {
  TvSim tv({}, dir + "/state");
  EXPECT_EQ(b.iu({"connect", tv.address()}).status, 0);
  auto r = b.iu({"connect", tv.address()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "connecting to " + tv.address() + " ...\n" + tv.address() + " is already connected\n");
  auto list = b.iu({"devices"}).out;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2) << list;
}

TEST_F(Tool, ConnectWithoutPortUsesTheTvPort) {
  auto r = b.iu({"connect", "127.0.0.1"});
  EXPECT_TRUE(has(r.out, "connecting to 127.0.0.1:26101 ...")) << r.out;
}

TEST_F(Tool, NoTvConnected) {
  auto r = b.iu({"shell", "0", "applist"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: target not found\n");
}

TEST_F(Tool, NothingListening) {
  std::string target = "127.0.0.1:" + std::to_string(harness::freePort());
  auto r = b.iu({"connect", target});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "error: failed to connect to remote target '127.0.0.1': ")) << r.err;
}

// The installer redirects only stdout into its step logs: a failed step's log must hold the
// reason, while a terminal shows it once.
TEST_F(Tool, ErrorsReachARedirectedLogAndATerminalOnce) {
  std::string target = "127.0.0.1:" + std::to_string(harness::freePort());
  const std::string reason = "error: failed to connect to remote target '127.0.0.1': Connection refused";
  const std::string log = dir + "/log.txt";
  struct Case {
    const char* name;
    std::string shell;  // runs "$@", the iu command line
    std::size_t timesInLog;
  };
  const Case cases[] = {
      {"stdout alone to a file", "exec \"$@\" > " + log, 1},
      {"both to one file", "exec \"$@\" > " + log + " 2>&1", 1},
      // script(1) gives iu a terminal as stdout and records what the terminal showed.
      {"stdout a terminal", "exec script -qec \"$* 2>" + dir + "/err.txt\" " + log + " >/dev/null", 0},
  };
  for (const Case& c : cases) {
    auto r = harness::run({"/bin/sh", "-c", c.shell, "sh", IU_PATH, "connect", target}, b.env);
    EXPECT_EQ(r.status, 1) << c.name;
    std::string text = harness::readFile(log);
    EXPECT_TRUE(has(text, "connecting to " + target + " ...")) << c.name << ": " << text;
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(reason, at)) != std::string::npos; at += reason.size()) ++count;
    EXPECT_EQ(count, c.timesInLog) << c.name << ": " << text;
  }
  EXPECT_EQ(harness::readFile(dir + "/err.txt"), reason + "\n");
}

TEST_F(Tool, ATvThatDoesNotKnowThisPc) {
  TvSim tv({"--host-pc", "127.0.0.2"}, dir + "/state");
  auto r = b.iu({"connect", tv.address()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      has(r.err, "error: failed to connect to " + tv.address() + ": the TV closed the connection without a handshake"))
      << r.err;
  EXPECT_LT(r.seconds, 3.0);
}

TEST_F(Tool, ShellCommandsOutsideTheTvsSetAreRefused) {
  TvSim tv({}, dir + "/state");
  b.iu({"connect", tv.address()});
  auto r = b.iu({"shell", "ls", "/"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "error: closed (" + tv.address() + " refused the service)")) << r.err;
}

TEST_F(Tool, PushOutsideTheUploadFolderFails) {
  TvSim tv({"--generation", "2016"}, dir + "/state");
  b.iu({"connect", tv.address()});
  harness::writeFile(dir + "/a.wgt", "package");
  auto r = b.iu({"push", dir + "/a.wgt", std::string(k2019.uploadFolder) + "/a.wgt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "error: failed to close '" + std::string(k2019.uploadFolder) + "/a.wgt': Permission denied"))
      << r.err;
}

TEST_F(Tool, PushOfAMissingFile) {
  auto r = b.iu({"push", dir + "/none.wgt", "/opt/usr/apps/tmp/none.wgt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: push: cannot open '" + dir + "/none.wgt': No such file or directory\n");
}

// Anything but a regular file would hold the TV for ever (a pipe waits for a writer, a device
// never ends): refused at once, and the TV is free for the next command.
TEST_F(Tool, PushRefusesWhatIsNotARegularFile) {
  TvSim tv({}, dir + "/state");
  ASSERT_EQ(b.iu({"connect", tv.address()}).status, 0);
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, const char*> cases[] = {
      {fifo, "not a regular file (a pipe or a device)"},
      {"/dev/zero", "not a regular file (a pipe or a device)"},
      {dir, "a folder, not a file"},
  };
  for (const auto& [local, why] : cases) {
    auto r = b.iu({"push", local, std::string(k2019.uploadFolder) + "/x"}, std::chrono::seconds(5));
    EXPECT_EQ(r.status, 1) << local;
    EXPECT_EQ(r.err, "error: push: cannot open '" + local + "': " + why + "\n");
    EXPECT_LT(r.seconds, 1.0) << local;
  }
  auto r = b.iu({"shell", "0", "applist"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 1.0);
}

// Bytes sent straight to the server's port, and all it answers until it closes.
std::string askServer(int port, const std::string& bytes) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size())) {
    pollfd p{s, POLLIN, 0};
    char buf[4096];
    for (ssize_t n; ::poll(&p, 1, 5000) > 0 && (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
      reply.append(buf, std::size_t(n));
  }
  ::close(s);
  return reply;
}

// Push requests that our client never sends, from another program on this PC: each gets a
// FAIL with the reason, none holds the TV.
TEST_F(Tool, TheServerAnswersEveryBadPushRequestWithAReason) {
  TvSim tv({}, dir + "/state");
  ASSERT_EQ(b.iu({"connect", tv.address()}).status, 0);
  const std::string fifo = dir + "/fifo", remote = "push:/opt/usr/apps/tmp/x";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto send = [](const std::string& path) { return wire::syncRequest(wire::kSyncSend, path); };
  const std::pair<std::string, std::string> cases[] = {
      {wire::encodeRequest(remote) + send(fifo), "cannot open '" + fifo + "': not a regular file"},
      {wire::encodeRequest(remote) + send("/dev/zero"), "cannot open '/dev/zero': not a regular file"},
      {wire::encodeRequest(remote) + send(dir), "a folder, not a file"},
      {wire::encodeRequest("push:") + send(dir + "/a"), "not a remote path of 1 to 1024 bytes"},
      {wire::encodeRequest(std::string("push:/a\0b", 9)) + send(dir + "/a"), "not a remote path of 1 to 1024 bytes"},
      {wire::encodeRequest(remote) + send(""), "malformed local path after push"},
      {wire::encodeRequest(remote) + send(std::string("/tmp/a\0b", 8)), "local path holds a NUL byte"},
  };
  int port = std::stoi(b.env["IU_SERVER_PORT"]);
  for (const auto& [request, why] : cases) {
    auto started = std::chrono::steady_clock::now();
    std::string reply = askServer(port, wire::encodeRequest("host:transport-any") + request);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << why;
    ASSERT_GE(reply.size(), 12u) << why << ": '" << reply << "'";
    EXPECT_EQ(reply.substr(0, 8), "OKAYFAIL") << why;
    EXPECT_TRUE(has(wire::decodeFailure(reply.substr(12)).detail, why)) << reply;
  }
  auto r = b.iu({"shell", "0", "applist"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 1.0);
}

TEST_F(Tool, CapabilityOfEachGeneration) {
  TvSim tv2016({"--generation", "2016"}, dir + "/a");
  TvSim tv2019({"--generation", "2019"}, dir + "/b");
  b.iu({"connect", tv2016.address()});
  auto r = b.iu({"capability"});
  EXPECT_TRUE(has(r.out, "filesync_support:push\n")) << r.out;
  EXPECT_FALSE(has(r.out, "sdk_toolpath"));
  b.iu({"kill-server"});
  b.iu({"connect", tv2019.address()});
  EXPECT_TRUE(has(b.iu({"capability"}).out, "sdk_toolpath:/home/owner/share/tmp/sdk_tools\n"));
}

TEST_F(Tool, WireTraceWithHexDumps) {
  TvSim tv({}, dir + "/state");
  b.env["IU_TRACE"] = dir + "/trace.txt";
  b.iu({"connect", tv.address()});
  b.iu({"shell", "0", "applist"});
  std::string trace = harness::readFile(dir + "/trace.txt");
  EXPECT_TRUE(has(trace, "-> " + tv.address() + " CNXN")) << trace;
  EXPECT_TRUE(has(trace, "  0000  43 4e 58 4e")) << trace;  // the CNXN header, dumped
  EXPECT_TRUE(has(trace, "client: asks shell:0 applist"));
}

TEST_F(Tool, UsageErrors) {
  auto r = b.iu({"instal"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: unknown command 'instal'\nrun 'iu help' for the commands\n");
  // Over-long texts are refused before any request is made, naming the limit.
  r = b.iu({"shell", "0", std::string(2041, 'a')});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "error: the shell command is 2043 bytes long, more than the 2042 the server takes\n"
            "run 'iu help' for the commands\n");
  b.env["IU_COMMAND_LIMIT"] = "3601";
  EXPECT_TRUE(has(b.iu({"devices"}).err, "IU_COMMAND_LIMIT is not 1 to 3600 seconds"));
  b.env.erase("IU_COMMAND_LIMIT");
  b.env["IU_SERVER_PORT"] = "26o99";
  EXPECT_TRUE(has(b.iu({"devices"}).err, "IU_SERVER_PORT is not a port number"));
}

}  // namespace
