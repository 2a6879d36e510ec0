// tvsim's side of the transport seen by a bare client: a shell service is acknowledged at once
// and its output streams while the command runs; the lock-state broadcasts.
#include <gtest/gtest.h>

#include <regex>

#include "harness.h"
#include "raw_link.h"

namespace {

using rawlink::RawLink;

using rawlink::kSampleId;
using rawlink::kUploaded;

TEST(Link, AnInstallIsAcknowledgedAtOnceAndStreamsItsProgress) {
  struct Case {
    const char* duration;
    std::vector<int> progress;
    int atLeastMs;
  };
  for (const Case& c : {Case{"0", {25, 50, 75, 100}, 0}, Case{"1.5", {25, 50, 75, 100}, 1500},
                        Case{"4.2", {20, 40, 60, 80, 100}, 4200}}) {
    std::string dir = harness::tempDir("link");
    auto args = rawlink::sampleReadyToInstall(dir, dir + "/state");
    args.insert(args.end(), {"--install-duration", c.duration});
    harness::TvSim tv(args, dir + "/state");
    RawLink link(tv.port());
    auto packets = link.runService("shell:0 vd_appinstall " + kSampleId + " " + kUploaded + "; echo cmd_ret:$?;");

    ASSERT_EQ(packets.front().command, wire::kOkay) << c.duration;
    std::string out = rawlink::text(packets);
    const std::string tag = "app_id[" + kSampleId + "] ";
    std::string expected = "install " + kSampleId + "\npackage_path " + kUploaded + "\n" + tag + "install start\n";
    for (int p : c.progress) expected += tag + "installing[" + std::to_string(p) + "]\n";
    expected += tag + "install completed\n";
    EXPECT_EQ(out.substr(0, expected.size()), expected) << c.duration;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("spend time for wascmd is \\[([0-9]+)\\]ms\ncmd_ret:0\n$")))
        << out;
    EXPECT_GE(std::stoi(m[1]), c.atLeastMs) << c.duration;
    // Output as it is produced: the start alone, before any progress.
    if (c.atLeastMs > 0) {
      EXPECT_EQ(packets[1].payload.find("installing["), std::string::npos) << c.duration;
    }
  }
}

TEST(Link, LockStateBroadcasts) {
  // What the PC sees around one shell command: the STATs with their state, the stream's own
  // packets by name.
  struct Case {
    std::vector<std::string> args;
    std::string seen;
  };
  const std::vector<Case> cases = {
      {{}, "OKAY WRTE CLSE"},
      {{"--lock-broadcast", "connect"}, "STAT0 OKAY WRTE CLSE"},
      {{"--lock-broadcast", "connect", "--locked"}, "STAT1 CLSE"},  // locked: refused
      {{"--lock-broadcast", "toggle"}, "STAT0 OKAY STAT1 WRTE STAT0 CLSE"},
  };
  for (const auto& c : cases) {
    std::string dir = harness::tempDir("stat");
    harness::TvSim tv(c.args, dir + "/state");
    RawLink link(tv.port());
    std::vector<wire::Packet> packets;
    if (c.args.size() > 0) packets.push_back(link.next());
    for (auto& p : link.runService("shell:0 getappinstallpath")) packets.push_back(p);
    std::string seen;
    for (const auto& p : packets)
      seen += (seen.empty() ? "" : " ") + wire::commandName(p.command) +
              (p.command == wire::kStat ? std::to_string(p.arg0) : "");
    EXPECT_EQ(seen, c.seen) << c.args.size();
  }
}

}  // namespace
