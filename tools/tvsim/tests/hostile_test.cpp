// Hostile packages, made in the test from a package wgtpack signs: each is refused with the
// TV's package error, quickly and in little memory, and tvsim writes nothing outside its state
// folder while it refuses them. A signed package whose name holds a line break and tabs leaves
// no phantom app behind.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "harness.h"
#include "raw_link.h"
#include "test_pki.h"
#include "verify.h"

namespace {

namespace fs = std::filesystem;

const std::string kAppId = "Kx7RmVq2Tz.Velmora";
const std::string kUploadFolder = "/home/owner/share/tmp/sdk_tools/tmp/";
const std::string kPhantomName = "Velmora\nPhantom.App\tnobody\tPhantom";

// --- Taking a package apart and putting it together in hostile ways --------------------------

void put(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + std::size_t(i)] = char((v >> (8 * i)) & 0xff);
}

void append(std::string& s, std::uint32_t v, int bytes) {
  s.append(std::size_t(bytes), '\0');
  put(s, s.size() - std::size_t(bytes), v, bytes);
}

std::uint32_t get(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes; i-- > 0;) v = v << 8 | std::uint8_t(s[at + std::size_t(i)]);
  return v;
}

// One entry: its local record (header to the end of its data descriptor) and its central
// directory record.
struct Record {
  std::string name, local, central;
};

// The records of a well-formed archive without a comment, in archive order.
std::vector<Record> records(const std::string& zip) {
  std::size_t end = zip.size() - 22, at = get(zip, end + 16, 4);
  std::vector<Record> out;
  std::vector<std::size_t> offsets;
  for (std::uint32_t i = 0, n = get(zip, end + 10, 2); i < n; ++i) {
    std::size_t len = 46 + get(zip, at + 28, 2) + get(zip, at + 30, 2) + get(zip, at + 32, 2);
    out.push_back({zip.substr(at + 46, get(zip, at + 28, 2)), {}, zip.substr(at, len)});
    offsets.push_back(get(zip, at + 42, 4));
    at += len;
  }
  std::size_t cd = get(zip, end + 16, 4);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i].local = zip.substr(offsets[i], (i + 1 < out.size() ? offsets[i + 1] : cd) - offsets[i]);
  return out;
}

// The local records in order, then the central records, each pointing at the local record of
// the given index.
std::string assemble(const std::vector<std::string>& locals,
                     const std::vector<std::pair<std::string, std::size_t>>& centrals) {
  std::string zip, cd;
  std::vector<std::size_t> at;
  for (const auto& l : locals) at.push_back(zip.size()), zip += l;
  for (auto [c, i] : centrals) {
    put(c, 42, std::uint32_t(at[i]), 4);
    cd += c;
  }
  std::size_t cdOffset = zip.size();
  zip += cd;
  append(zip, 0x06054b50, 4), append(zip, 0, 2), append(zip, 0, 2);
  append(zip, std::uint32_t(centrals.size()), 2), append(zip, std::uint32_t(centrals.size()), 2);
  append(zip, std::uint32_t(cd.size()), 4), append(zip, std::uint32_t(cdOffset), 4), append(zip, 0, 2);
  return zip;
}

std::string assemble(const std::vector<Record>& rs) {
  std::vector<std::string> locals;
  std::vector<std::pair<std::string, std::size_t>> centrals;
  for (const auto& r : rs) locals.push_back(r.local), centrals.push_back({r.central, locals.size() - 1});
  return assemble(locals, centrals);
}

// A deflated entry without a data descriptor.
Record deflated(const std::string& name, const std::string& data) {
  std::string packed(compressBound(uLong(data.size())), '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = uInt(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
  Record r{name, {}, {}};
  append(r.local, 0x04034b50, 4), append(r.local, 20, 2), append(r.local, 0, 2), append(r.local, 8, 2);
  append(r.local, 0, 4), append(r.local, crc, 4), append(r.local, std::uint32_t(packed.size()), 4);
  append(r.local, std::uint32_t(data.size()), 4), append(r.local, std::uint32_t(name.size()), 2);
  append(r.local, 0, 2);
  r.local += name + packed;
  append(r.central, 0x02014b50, 4), append(r.central, 20, 2), append(r.central, 20, 2);
  append(r.central, 0, 2), append(r.central, 8, 2), append(r.central, 0, 4), append(r.central, crc, 4);
  append(r.central, std::uint32_t(packed.size()), 4), append(r.central, std::uint32_t(data.size()), 4);
  append(r.central, std::uint32_t(name.size()), 2);
  r.central.append(16, '\0');  // extra and comment lengths, disk, attributes, offset
  r.central += name;
  return r;
}

// The central record of r under another name, pointing at r's data.
std::string alias(const Record& r, const std::string& name) {
  std::string c = r.central.substr(0, 46) + name;
  put(c, 28, std::uint32_t(name.size()), 2);
  put(c, 30, 0, 2);
  put(c, 32, 0, 2);
  return c;
}

std::size_t indexOf(const std::vector<Record>& rs, const std::string& name) {
  for (std::size_t i = 0; i < rs.size(); ++i)
    if (rs[i].name == name) return i;
  throw std::runtime_error("no entry " + name);
}

// N central records that all unpack the data of `target`, appended to the package's entries.
std::string overlapping(const std::vector<Record>& rs, const Record& target, int n) {
  std::vector<std::string> locals;
  std::vector<std::pair<std::string, std::size_t>> centrals;
  for (const auto& r : rs) locals.push_back(r.local), centrals.push_back({r.central, locals.size() - 1});
  locals.push_back(target.local);
  centrals.push_back({target.central, locals.size() - 1});
  for (int i = 0; i < n; ++i) centrals.push_back({alias(target, "copy" + std::to_string(i)), locals.size() - 1});
  return assemble(locals, centrals);
}

struct HostilePackage {
  const char* name;
  std::function<std::string(std::vector<Record>)> make;  // from the signed package's records
  std::string why;                                       // in the TV's reason
};

const std::vector<HostilePackage>& hostilePackages() {
  static const std::vector<HostilePackage> table = {
      {"overlap bomb: 40 entries unpacking one of 1 MiB",
       [](auto rs) { return overlapping(rs, deflated("media.bin", std::string(1 << 20, '\0')), 40); },
       "overlapping entries media.bin and copy0"},
      {"overlap bomb: 40 entries unpacking one of 48 MiB (1.9 GiB in all)",
       [](auto rs) { return overlapping(rs, deflated("media.bin", std::string(48 << 20, '\0')), 40); },
       "unpacked size exceeds the limit at copy0"},
      {"the most entries the format allows, all one",
       [](auto rs) { return overlapping(rs, deflated("media.bin", "x"), 65535 - int(rs.size()) - 1); },
       "too many entries: 65535"},
      {"two entries over the unpacked limit without overlap",
       [](auto rs) {
         rs.push_back(deflated("a.bin", std::string(40 << 20, '\0')));
         rs.push_back(deflated("b.bin", std::string(40 << 20, '\0')));
         return assemble(rs);
       },
       "unpacked size exceeds the limit at b.bin"},
      {"stored in the local header, deflated in the central directory",
       [](auto rs) {
         put(rs[indexOf(rs, "config.xml")].local, 8, 0, 2);
         return assemble(rs);
       },
       "local header of config.xml disagrees with the central directory"},
      {"another name in the local header",
       [](auto rs) {
         rs[indexOf(rs, "main.js")].local.replace(30, 7, "evil.js");
         return assemble(rs);
       },
       "local name of main.js disagrees with the central directory"},
      {"an entry only in the local headers",
       [](auto rs) {
         std::vector<std::string> locals;
         std::vector<std::pair<std::string, std::size_t>> centrals;
         for (const auto& r : rs) {
           if (r.name == "main.js") locals.push_back(deflated("evil.js", "alert(1)").local);
           locals.push_back(r.local);
           centrals.push_back({r.central, locals.size() - 1});
         }
         return assemble(locals, centrals);
       },
       "data outside any entry before main.js"},
      {"a data descriptor that disagrees",
       [](auto rs) {
         auto& local = rs[indexOf(rs, "main.js")].local;
         local[local.size() - 12] ^= 1;  // its CRC
         return assemble(rs);
       },
       "data descriptor of main.js disagrees with the central directory"},
      {"an entry that climbs out of the package",
       [](auto rs) {
         rs.push_back(deflated("../../../outside.js", "x"));
         return assemble(rs);
       },
       "unsafe entry name '../../../outside.js'"},
      {"an entry with an absolute name",
       [](auto rs) {
         rs.push_back(deflated("/tmp/outside.js", "x"));
         return assemble(rs);
       },
       "unsafe entry name '/tmp/outside.js'"},
  };
  return table;
}

// --- The signed packages -----------------------------------------------------------------------

std::string pem(X509* cert) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_X509(bio.get(), cert);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, std::size_t(n));
}

class Hostile : public ::testing::Test {
 protected:
  static inline std::string dir, caPem, package, phantom;

  // Throwaway signers, and the widget packed by wgtpack twice: as it is, and with a name that
  // holds a line break and tabs.
  static void SetUpTestSuite() {
    tvsim::initVerifier();
    dir = harness::tempDir("hostile");
    auto caKey = testpki::rsaKey(2048);
    auto ca = testpki::certificate({"Hostile test CA", -1, 3650, true}, caKey.get(), nullptr, nullptr);
    auto key = testpki::rsaKey(2048);
    auto leaf = testpki::certificate({"Hostile test signer"}, key.get(), ca.get(), caKey.get());
    testpki::writePkcs12(dir + "/signer.p12", "pass", key.get(), leaf.get(), {ca.get()});
    caPem = pem(ca.get());
    harness::writeFile(dir + "/ca.pem", caPem);
    package = pack("src", {});
    phantom = pack("src-phantom", kPhantomName);
  }

  static std::string pack(const std::string& name, const std::string& widgetName) {
    std::string src = dir + "/" + name;
    for (const char* f : {"config.xml", "index.html", "main.js", "css/style.css", "wgt_ico.png"})
      harness::writeFile(src + "/" + f, harness::readFile(std::string(WIDGET_SRC_DIR) + "/" + f));
    if (!widgetName.empty()) {
      std::string config = harness::readFile(src + "/config.xml");
      harness::writeFile(src + "/config.xml", std::regex_replace(config, std::regex("<name>[^<]*</name>"),
                                                                 "<name>" + widgetName + "</name>"));
    }
    std::string out = dir + "/" + name + ".wgt";
    auto r = harness::run({WGTPACK_EXE,
                           "--src",
                           src,
                           "--author",
                           dir + "/signer.p12",
                           "--author-pass",
                           "pass:pass",
                           "--distributor",
                           dir + "/signer.p12",
                           "--distributor-pass",
                           "pass:pass",
                           "--portal-url",
                           "https://portal.velmora.example/tv/",
                           "--widget-host",
                           "velmora.example",
                           "--author-href",
                           "https://www.velmora.example/",
                           "--author-email",
                           "support@velmora.example",
                           "--mtime",
                           "2025-01-01T00:00:00",
                           "-o",
                           out},
                          {});
    if (r.status != 0) throw std::runtime_error("wgtpack failed: " + r.err);
    return harness::readFile(out);
  }

  static std::vector<std::string> trusting() {
    return {"--author-ca", dir + "/ca.pem", "--distributor-ca", dir + "/ca.pem"};
  }
};

// The package check in a child process of its own, so that its time and peak memory are its
// own; a check that goes wild hits an address-space limit instead of the machine.
struct Measured {
  int code = -1;
  std::string reason;
  double seconds = 0;
  long peakGrowthKiB = 0;
};

Measured checkInChild(const std::string& bytes, const tvsim::TrustStore& trust) {
  int p[2];
  if (::pipe(p) != 0) throw std::runtime_error("pipe");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) limit.rlim_cur = (std::stoul(line.substr(7)) << 10) + (512ul << 20);
    ::setrlimit(RLIMIT_AS, &limit);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    auto start = std::chrono::steady_clock::now();
    auto r = tvsim::checkPackage(bytes, kAppId, trust);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::getrusage(RUSAGE_SELF, &after);
    std::string report = std::to_string(r.code) + "\n" + std::to_string(seconds) + "\n" +
                         std::to_string(after.ru_maxrss - before.ru_maxrss) + "\n" + r.reason;
    [[maybe_unused]] auto n = ::write(p[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(p[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) > 0;) report.append(buf, std::size_t(n));
  ::close(p[0]);
  ::waitpid(pid, nullptr, 0);
  Measured m;
  std::istringstream in(report);
  if (!(in >> m.code >> m.seconds >> m.peakGrowthKiB)) return m;
  in.ignore(1);
  std::getline(in, m.reason, '\0');
  return m;
}

TEST_F(Hostile, EachIsRefusedWithThePackageErrorQuicklyAndInLittleMemory) {
  const tvsim::TrustStore trust({caPem}, {caPem});
  Measured good = checkInChild(package, trust);
  EXPECT_EQ(good.code, 0) << good.reason;
  std::printf("  %-70s %7zu bytes: accepted in %.1f ms, peak memory +%ld KiB\n", "the signed package", package.size(),
              good.seconds * 1000, good.peakGrowthKiB);
  for (const auto& h : hostilePackages()) {
    std::string bytes = h.make(records(package));
    Measured m = checkInChild(bytes, trust);
    EXPECT_EQ(m.code, 118) << h.name << ": " << m.reason;
    EXPECT_NE(m.reason.find("package is not a readable ZIP: " + h.why), std::string::npos)
        << h.name << ": " << m.reason;
    EXPECT_LT(m.seconds, 1.0) << h.name;
    EXPECT_LT(m.peakGrowthKiB, 16 * 1024) << h.name;
    std::printf("  %-70s %7zu bytes: refused in %.1f ms, peak memory +%ld KiB\n", h.name, bytes.size(),
                m.seconds * 1000, m.peakGrowthKiB);
  }
}

// Runs `start` with the working folder, HOME and TMPDIR inside `world`, where tvsim's own files
// could land if it wrote anywhere but its state folder.
template <typename Start>
auto insideWorld(const std::string& world, Start start) {
  auto cwd = fs::current_path();
  std::map<std::string, std::string> saved;
  for (const char* v : {"HOME", "TMPDIR"}) {
    if (const char* old = std::getenv(v)) saved[v] = old;
    ::setenv(v, (world + (std::string(v) == "HOME" ? "/home" : "/tmp")).c_str(), 1);
  }
  fs::current_path(world + "/cwd");
  auto started = start();
  fs::current_path(cwd);
  for (const char* v : {"HOME", "TMPDIR"}) saved.count(v) ? ::setenv(v, saved[v].c_str(), 1) : ::unsetenv(v);
  return started;
}

// Every path under dir but the state folder, with its kind, size and modification time.
std::map<std::string, std::string> snapshot(const std::string& dir, const std::string& state) {
  std::map<std::string, std::string> seen;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == state) {
      it.disable_recursion_pending();
      continue;
    }
    auto st = fs::symlink_status(it->path());
    std::string what = std::to_string(int(st.type()));
    if (st.type() == fs::file_type::regular)
      what += " " + std::to_string(it->file_size()) + " " +
              std::to_string(it->last_write_time().time_since_epoch().count());
    seen[it->path().string()] = what;
  }
  return seen;
}

TEST_F(Hostile, TvsimRefusesThemAndWritesNothingOutsideItsStateFolder) {
  const std::string world = dir + "/world", state = world + "/state";
  std::vector<std::pair<std::string, const HostilePackage*>> staged;
  for (const auto& h : hostilePackages()) {
    std::string name = "hostile" + std::to_string(staged.size()) + ".wgt";
    harness::writeFile(state + "/fs" + kUploadFolder + name, h.make(records(package)));
    staged.push_back({name, &h});
  }
  for (const char* d : {"/cwd", "/home", "/tmp"}) fs::create_directories(world + d);
  auto before = snapshot(dir, state);
  auto tv = insideWorld(world, [&] { return std::make_unique<harness::TvSim>(trusting(), state); });
  rawlink::RawLink link(tv->port());
  for (const auto& [name, h] : staged) {
    std::string out = link.shell("0 vd_appinstall " + kAppId + " " + kUploadFolder + name);
    EXPECT_NE(out.find("app_id[" + kAppId + "] install failed[118], reason: package is not a readable ZIP: " + h->why),
              std::string::npos)
        << h->name << ": " << out;
  }
  EXPECT_EQ(link.shell("0 applist").find("'" + kAppId + "'"), std::string::npos);
  tv.reset();
  EXPECT_EQ(snapshot(dir, state), before);
  std::set<std::string> top;
  for (const auto& e : fs::directory_iterator(state)) top.insert(e.path().filename().string());
  EXPECT_EQ(top, std::set<std::string>{"fs"});
}

TEST_F(Hostile, ANameWithALineBreakAndTabsLeavesNoPhantomApp) {
  const std::string state = dir + "/phantom-state";
  harness::writeFile(state + "/fs" + kUploadFolder + "Velmora.wgt", phantom);
  const std::string tag = "app_id[" + kAppId + "] ";
  {
    harness::TvSim tv(trusting(), state);
    std::string out =
        rawlink::RawLink(tv.port()).shell("0 vd_appinstall " + kAppId + " " + kUploadFolder + "Velmora.wgt");
    ASSERT_NE(out.find(tag + "install completed\n"), std::string::npos) << out;
  }
  std::string apps = harness::readFile(state + "/apps.txt");
  EXPECT_EQ(std::count(apps.begin(), apps.end(), '\n'), 1) << apps;

  // After a restart, from the state file alone: one app, and gone once uninstalled.
  harness::TvSim tv(trusting(), state);
  rawlink::RawLink link(tv.port());
  const std::string rule = "\t=================================================\r\n";
  const std::string header =
      "\tApplication List for user 5001\r\n\tUser's Application \r\n\t Name \t AppID \r\n" + rule;
  EXPECT_EQ(link.shell("0 applist"), header + "\t'Velmora Phantom.App nobody Phantom'\t '" + kAppId + "'\r\n" + rule);
  std::string out = link.shell("0 vd_appuninstall " + kAppId);
  EXPECT_NE(out.find(tag + "uninstall completed\n"), std::string::npos) << out;
  EXPECT_EQ(link.shell("0 applist"), header + rule);
  EXPECT_NE(link.shell("0 vd_appuninstall Phantom.App").find("uninstall failed[132]"), std::string::npos);
}

}  // namespace
