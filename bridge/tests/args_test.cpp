// The invocations exactly as cmd.exe splits the installer's command lines.
#include <gtest/gtest.h>

#include "args.h"

namespace {

using bridge::Invocation;

TEST(Args, TheInstallersInvocations) {
  struct Case {
    std::vector<std::string> argv;
    Invocation::Kind kind;
    std::string detail;  // target, shell text or "local -> remote"
  };
  const std::string d = "/home/owner/share/tmp/sdk_tools/tmp";
  const std::vector<Case> cases = {
      {{"kill-server"}, Invocation::Kind::KillServer, ""},
      {{"connect", "192.168.1.66:26101"}, Invocation::Kind::Connect, "192.168.1.66:26101"},
      {{"devices"}, Invocation::Kind::Devices, ""},
      {{"shell", "0", "getappinstallpath"}, Invocation::Kind::Shell, "0 getappinstallpath"},
      {{"shell", "0", "vd_appuninstall", "Kx7RmVq2Tz.Velmora;", "echo", "cmd_ret:$?;"},
       Invocation::Kind::Shell,
       "0 vd_appuninstall Kx7RmVq2Tz.Velmora; echo cmd_ret:$?;"},
      {{"shell", "0", "mkdir", d}, Invocation::Kind::Shell, "0 mkdir " + d},
      {{"push", "Velmora.wgt", d + "/Velmora.wgt"}, Invocation::Kind::Push, "Velmora.wgt -> " + d + "/Velmora.wgt"},
      {{"shell", "0", "vd_appinstall", "Kx7RmVq2Tz.Velmora", d + "/Velmora.wgt;", "echo", "cmd_ret:$?;"},
       Invocation::Kind::Shell,
       "0 vd_appinstall Kx7RmVq2Tz.Velmora " + d + "/Velmora.wgt; echo cmd_ret:$?;"},
      {{"shell", "0", "rmfile", d + "/Velmora.wgt"}, Invocation::Kind::Shell, "0 rmfile " + d + "/Velmora.wgt"},
      {{"shell", "0", "applist"}, Invocation::Kind::Shell, "0 applist"},
      {{"version"}, Invocation::Kind::Version, ""},
      {{"help"}, Invocation::Kind::Help, ""},
  };
  for (const auto& c : cases) {
    Invocation inv = bridge::parseInvocation(c.argv);
    EXPECT_EQ(inv.kind, c.kind) << c.argv[0];
    std::string detail = inv.kind == Invocation::Kind::Connect ? inv.target
                         : inv.kind == Invocation::Kind::Shell ? inv.shellText
                         : inv.kind == Invocation::Kind::Push  ? inv.local + " -> " + inv.remote
                                                               : "";
    EXPECT_EQ(detail, c.detail) << c.argv[0];
  }
}

TEST(Args, ShellWordsWithSpacesOrEmptyAreQuoted) {
  EXPECT_EQ(bridge::joinShellArgs({"0", "rmfile", "/a b/c", ""}), "0 rmfile \"/a b/c\" \"\"");
}

TEST(Args, BadCommandLinesAreRefused) {
  for (const auto& argv : std::vector<std::vector<std::string>>{{},
                                                                {"conect", "1.2.3.4"},
                                                                {"connect"},
                                                                {"connect", "1.2.3.4", "x"},
                                                                {"shell"},
                                                                {"push", "a"},
                                                                {"push", "", "b"},
                                                                {"devices", "-l"},
                                                                {"kill-server", "now"}})
    EXPECT_THROW(bridge::parseInvocation(argv), std::invalid_argument) << argv.size();
}

TEST(Args, AConnectWithoutPortGetsTheTvsPort) {
  EXPECT_EQ(bridge::parseInvocation({"connect", "10.0.0.7"}).target, "10.0.0.7:26101");
}

// Texts the server or the TV would not take are refused where they are made, naming the limit:
// once they went out as requests whose length field overflowed.
TEST(Args, TextsOverTheirLimitsAreRefusedWithTheLimit) {
  const std::string shellFits(2042 - 2, 'a');  // "0 " + the rest: "shell:" + 2042 = 2048 bytes
  EXPECT_NO_THROW(bridge::parseInvocation({"shell", "0", shellFits}));
  struct Case {
    std::vector<std::string> argv;
    std::string says;
  };
  const Case cases[] = {
      {{"shell", "0", shellFits + "a"}, "the shell command is 2043 bytes long, more than the 2042 the server takes"},
      {{"connect", std::string(100 * 1024, '1')}, "'" + std::string(64, '1') + "...' is not an IPv4 address"},
      {{"connect", "1.2.3.4 & del *"}, "'1.2.3.4 & del *' is not an IPv4 address"},
      {{"connect", "1.2.3.4:65536"}, "is not an IPv4 address"},
      {{"push", "a", "/" + std::string(1024, 'r')},
       "the remote path is 1025 bytes long, more than the 1024 the TV takes"},
  };
  for (const auto& c : cases) {
    try {
      bridge::parseInvocation(c.argv);
      ADD_FAILURE() << c.says;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
