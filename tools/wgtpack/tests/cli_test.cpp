// wgtpack as the build runs it: good inputs give a package, each kind of bad input gives a
// clear error naming the file and the cause, a non-zero exit and no file at the output path.
#include "test_pki.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testpki::certificate;
using testpki::CertSpec;
using testpki::rsaKey;
using testpki::writePkcs12;

namespace {

struct Result {
  int exitCode = -1;
  std::string err;
};

// Runs wgtpack with `args`, extra environment `env`; returns its exit code and stderr.
Result runWgtpack(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFd[1], 2);
    close(pipeFd[0]);
    close(pipeFd[1]);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    unsetenv("SOURCE_DATE_EPOCH");
    // A wgtpack that hangs fails its test instead of hanging it (alarms survive exec).
    alarm(30);
    if (env.count("SOURCE_DATE_EPOCH")) setenv("SOURCE_DATE_EPOCH", env.at("SOURCE_DATE_EPOCH").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(WGTPACK_EXE)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(WGTPACK_EXE, argv.data());
    _exit(127);
  }
  close(pipeFd[1]);
  Result r;
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFd[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<std::size_t>(n));
  close(pipeFd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// Files left beside the output by an interrupted write.
std::vector<std::string> leftovers(const fs::path& dir) {
  std::vector<std::string> found;
  if (fs::is_directory(dir))
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename().string().find(".tmp-") != std::string::npos) found.push_back(e.path().string());
  return found;
}

class WgtpackCli : public ::testing::Test {
 protected:
  static inline fs::path root;

  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/wgtpack-cli-XXXXXX";
    root = mkdtemp(tmpl);
    const fs::path src = root / "src";
    for (const char* f : {"config.xml", "index.html", "main.js", "css/style.css", "wgt_ico.png"}) {
      fs::create_directories((src / f).parent_path());
      fs::copy_file(fs::path(WIDGET_SRC_DIR) / f, src / f);
    }
    fs::copy(src, root / "src-no-main", fs::copy_options::recursive);
    fs::remove(root / "src-no-main" / "main.js");
    fs::copy(src, root / "src-unknown-placeholder", fs::copy_options::recursive);
    spit(root / "src-unknown-placeholder" / "index.html", "<title>@NO_SUCH_SETTING@</title>\n");
    // Sources that are no ordinary files, or too large to be one of the widget's.
    auto variant = [&](const std::string& name, const std::string& file) {
      fs::copy(src, root / name, fs::copy_options::recursive);
      fs::remove(root / name / file);
      return root / name / file;
    };
    mkfifo(variant("src-fifo", "main.js").c_str(), 0600);
    fs::create_symlink("/dev/zero", variant("src-device", "main.js"));
    std::ofstream(variant("src-huge", "index.html")).close();
    fs::resize_file(root / "src-huge" / "index.html", (32u << 20) + 1);
    const std::string config = slurp(src / "config.xml");
    spit(variant("src-empty-config", "config.xml"), "");
    spit(variant("src-broken-config", "config.xml"), config.substr(0, config.size() / 2));
    spit(variant("src-config-no-application", "config.xml"),
         std::regex_replace(config, std::regex("<tizen:application [^>]*>"), ""));
    spit(variant("src-config-no-package", "config.xml"),
         std::regex_replace(config, std::regex(" package=\"[^\"]*\""), ""));
    spit(variant("src-config-other-package", "config.xml"),
         std::regex_replace(config, std::regex(" package=\"[^\"]*\""), " package=\"Zz9Zz9Zz9Z\""));
    spit(variant("src-config-other-root", "config.xml"),
         std::regex_replace(config, std::regex("xmlns=\"http://www.w3.org/ns/widgets\""), ""));
    mkfifo((root / "out-fifo").c_str(), 0600);
    spit(root / "link-target", "not to be replaced");
    fs::create_symlink(root / "link-target", root / "out-link");

    // Small keys keep the suite fast; sizes do not matter to these checks.
    auto caKey = rsaKey(1024);
    auto ca = certificate({"Test CA", -1, 3650, true}, caKey.get(), nullptr, nullptr);
    auto key = rsaKey(1024);
    auto leaf = certificate({"Test signer"}, key.get(), ca.get(), caKey.get());
    auto expired = certificate({"Expired signer", -400, -30}, key.get(), ca.get(), caKey.get());
    auto future = certificate({"Future signer", 30, 400}, key.get(), ca.get(), caKey.get());
    auto self = certificate({"Self-signed signer"}, key.get(), nullptr, nullptr);

    writePkcs12((root / "author.p12").string(), "a-pass", key.get(), leaf.get(), {ca.get()});
    writePkcs12((root / "distributor.p12").string(), "d-pass", key.get(), leaf.get(), {ca.get()});
    writePkcs12((root / "legacy.p12").string(), "l-pass", key.get(), leaf.get(), {ca.get()},
                testpki::P12Cipher::Legacy);
    writePkcs12((root / "empty-pass.p12").string(), "", key.get(), leaf.get(), {ca.get()});
    writePkcs12((root / "cert-only.p12").string(), "a-pass", nullptr, leaf.get(), {ca.get()});
    writePkcs12((root / "expired.p12").string(), "a-pass", key.get(), expired.get(), {ca.get()});
    writePkcs12((root / "future.p12").string(), "a-pass", key.get(), future.get(), {ca.get()});
    writePkcs12((root / "no-issuer.p12").string(), "a-pass", key.get(), leaf.get(), {});
    writePkcs12((root / "self-signed.p12").string(), "a-pass", key.get(), self.get(), {});
    spit(root / "garbage.p12", "this is not a PKCS#12 file\n");
    spit(root / "a-pass.txt", "a-pass\n");
    spit(root / "a-file", "");
  }

  static void TearDownTestSuite() { fs::remove_all(root); }

  // The options the build passes, with some replaced or removed ("" removes).
  static std::vector<std::string> args(const fs::path& out, const std::map<std::string, std::string>& change = {}) {
    std::vector<std::pair<std::string, std::string>> opts = {
        {"--src", (root / "src").string()},
        {"--author", (root / "author.p12").string()},
        {"--author-pass", "pass:a-pass"},
        {"--distributor", (root / "distributor.p12").string()},
        {"--distributor-pass", "pass:d-pass"},
        {"--portal-url", "https://portal.velmora.example/tv/"},
        {"--widget-host", "velmora.example"},
        {"--author-href", "https://www.velmora.example/"},
        {"--author-email", "support@velmora.example"},
        {"--mtime", "2025-01-01T00:00:00"},
        {"-o", out.string()},
    };
    std::vector<std::string> a;
    for (auto& [k, v] : opts) {
      auto c = change.find(k);
      const std::string value = c == change.end() ? v : c->second;
      if (c != change.end() && value.empty()) continue;
      a.push_back(k);
      a.push_back(value);
    }
    return a;
  }
};

struct BadCase {
  const char* name;
  std::map<std::string, std::string> change;  // "@/" in a value stands for the test folder
  std::vector<std::string> expect;            // in stderr, "@/" likewise
  const char* output = nullptr;               // relative to the test folder; default out/NAME/Velmora.wgt
};

std::string expand(std::string s, const fs::path& root) {
  for (std::size_t at; (at = s.find("@/")) != std::string::npos;) s.replace(at, 1, root.string());
  return s;
}

TEST_F(WgtpackCli, BadInputIsRefusedClearlyAndLeavesNoOutput) {
  const std::vector<BadCase> cases = {
      {"missing source file",
       {{"--src", "@/src-no-main"}},
       {"cannot read source file '@/src-no-main/main.js'", "No such file or directory"}},
      {"missing source folder",
       {{"--src", "@/nowhere"}},
       {"cannot read source file '@/nowhere/config.xml'", "No such file or directory"}},
      {"unknown placeholder",
       {{"--src", "@/src-unknown-placeholder"}},
       {"'@/src-unknown-placeholder/index.html'", "unknown placeholder @NO_SUCH_SETTING@"}},
      {"missing author PKCS#12",
       {{"--author", "@/absent.p12"}},
       {"cannot read author PKCS#12 file '@/absent.p12'", "No such file or directory"}},
      {"PKCS#12 is a folder",
       {{"--distributor", "@/src"}},
       {"cannot read distributor PKCS#12 file '@/src'", "Is a directory"}},
      {"not a PKCS#12 file",
       {{"--author", "@/garbage.p12"}},
       {"author PKCS#12 file '@/garbage.p12' is not a PKCS#12 file"}},
      {"wrong author password",
       {{"--author-pass", "pass:nope"}},
       {"wrong password for author PKCS#12 file '@/author.p12'"}},
      {"wrong distributor password",
       {{"--distributor-pass", "pass:"}},
       {"wrong password for distributor PKCS#12 file '@/distributor.p12'"}},
      {"certificate without private key",
       {{"--author", "@/cert-only.p12"}},
       {"author PKCS#12 file '@/cert-only.p12' holds no private key"}},
      {"expired certificate",
       {{"--distributor", "@/expired.p12"}, {"--distributor-pass", "pass:a-pass"}},
       {"distributor certificate '/CN=Expired signer' in distributor PKCS#12 file '@/expired.p12' expired on"}},
      {"certificate not yet valid",
       {{"--author", "@/future.p12"}},
       {"'/CN=Future signer' in author PKCS#12 file '@/future.p12' is not valid before"}},
      {"issuing CA missing",
       {{"--author", "@/no-issuer.p12"}},
       {"author PKCS#12 file '@/no-issuer.p12' holds no certificate of the CA that issued '/CN=Test signer'"}},
      {"self-signed signer", {{"--author", "@/self-signed.p12"}}, {"'@/self-signed.p12' is self-signed"}, nullptr},
      {"password variable unset",
       {{"--author-pass", "env:WGTPACK_TEST_UNSET"}},
       {"environment variable 'WGTPACK_TEST_UNSET' is not set"}},
      {"password file missing",
       {{"--author-pass", "file:@/absent.txt"}},
       {"cannot read password file '@/absent.txt'", "No such file or directory"}},
      {"output folder missing",
       {},
       {"cannot write output '@/absent/Velmora.wgt'", "No such file or directory"},
       "absent/Velmora.wgt"},
      {"output below a file",
       {},
       {"cannot write output '@/a-file/Velmora.wgt'", "Not a directory"},
       "a-file/Velmora.wgt"},
      {"output is a folder", {}, {"cannot write output '@/out/a-folder'", "Is a directory"}, "out/a-folder"},
      {"source is a FIFO",
       {{"--src", "@/src-fifo"}},
       {"cannot read source file '@/src-fifo/main.js': not a regular file"}},
      {"source links to a device",
       {{"--src", "@/src-device"}},
       {"cannot read source file '@/src-device/main.js': not a regular file"}},
      {"source too large",
       {{"--src", "@/src-huge"}},
       {"cannot read source file '@/src-huge/index.html': larger than 32 MiB"}},
      {"empty config.xml",
       {{"--src", "@/src-empty-config"}},
       {"config.xml '@/src-empty-config/config.xml' is not well-formed XML"}},
      {"half a config.xml",
       {{"--src", "@/src-broken-config"}},
       {"config.xml '@/src-broken-config/config.xml' is not well-formed XML"}},
      {"config.xml without the application",
       {{"--src", "@/src-config-no-application"}},
       {"'@/src-config-no-application/config.xml' has no <tizen:application> element"}},
      {"config.xml without the package",
       {{"--src", "@/src-config-no-package"}},
       {"'@/src-config-no-package/config.xml' names no application id and package"}},
      {"config.xml with an id of another package",
       {{"--src", "@/src-config-other-package"}},
       {"application id 'Kx7RmVq2Tz.Velmora', which is not its package 'Zz9Zz9Zz9Z' + \".NAME\""}},
      {"config.xml outside the widget namespace",
       {{"--src", "@/src-config-other-root"}},
       {"'@/src-config-other-root/config.xml' has no <widget> root element"}},
      {"output is a FIFO", {}, {"cannot write output '@/out-fifo': not a regular file"}, "out-fifo"},
      {"output is a link", {}, {"cannot write output '@/out-link': not a regular file"}, "out-link"},
      {"portal URL without final slash",
       {{"--portal-url", "https://portal.velmora.example/tv"}},
       {"portal URL 'https://portal.velmora.example/tv' must", "ends in \"/\""}},
      {"bad modification time", {{"--mtime", "yesterday"}}, {"modification time 'yesterday'"}},
      {"no modification time at all", {{"--mtime", ""}}, {"give --mtime or set SOURCE_DATE_EPOCH"}},
      {"missing option", {{"--distributor", ""}}, {"missing option --distributor"}},
  };
  fs::create_directories(root / "out" / "a-folder");
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = c.output ? root / c.output : root / "out" / c.name / "Velmora.wgt";
    if (!c.output) fs::create_directories(out.parent_path());
    std::map<std::string, std::string> change;
    for (const auto& [k, v] : c.change) change[k] = expand(v, root);
    // Whatever was at the output path stays as it was.
    const fs::file_type before = fs::symlink_status(out).type();
    const Result r = runWgtpack(args(out, change));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err.rfind("wgtpack: ", 0), 0u) << r.err;
    for (const std::string& e : c.expect)
      EXPECT_NE(r.err.find(expand(e, root)), std::string::npos) << "want: " << expand(e, root) << "\ngot: " << r.err;
    EXPECT_EQ(fs::symlink_status(out).type(), before);
    if (before == fs::file_type::directory) {
      EXPECT_TRUE(fs::is_empty(out));
    }
    EXPECT_EQ(leftovers(out.parent_path()), std::vector<std::string>{});
  }
  EXPECT_EQ(slurp(root / "link-target"), "not to be replaced");
}

TEST_F(WgtpackCli, GoodInputsInEveryAcceptedForm) {
  struct GoodCase {
    const char* name;
    std::map<std::string, std::string> change;
    std::map<std::string, std::string> env;
  };
  const std::vector<GoodCase> cases = {
      {"as the build runs it", {}, {}},
      {"legacy RC2/3DES PKCS#12", {{"--author", "@/legacy.p12"}, {"--author-pass", "pass:l-pass"}}, {}},
      {"empty password", {{"--distributor", "@/empty-pass.p12"}, {"--distributor-pass", "pass:"}}, {}},
      {"password from a file", {{"--author-pass", "file:@/a-pass.txt"}}, {}},
      {"password from the environment",
       {{"--author-pass", "env:WGTPACK_TEST_PASS"}},
       {{"WGTPACK_TEST_PASS", "a-pass"}}},
      {"time from SOURCE_DATE_EPOCH", {{"--mtime", ""}}, {{"SOURCE_DATE_EPOCH", "1735689600"}}},
  };
  std::string first;
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = root / "good" / c.name / "Velmora.wgt";
    fs::create_directories(out.parent_path());
    std::map<std::string, std::string> change;
    for (const auto& [k, v] : c.change) change[k] = expand(v, root);
    const Result r = runWgtpack(args(out, change), c.env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string bytes = slurp(out);
    EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x03\x04", 4));
    // Same keys, same settings, the same moment (SOURCE_DATE_EPOCH is 2025-01-01T00:00:00Z):
    // the same package, whatever form the inputs came in.
    if (first.empty())
      first = bytes;
    else
      EXPECT_EQ(bytes, first);
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::others_read, fs::perms::others_read);
  }
}

TEST_F(WgtpackCli, FailureLeavesAnEarlierPackageUntouchedAndSuccessReplacesIt) {
  const fs::path out = root / "replace" / "Velmora.wgt";
  fs::create_directories(out.parent_path());
  spit(out, "earlier package");
  Result r = runWgtpack(args(out, {{"--author-pass", "pass:nope"}}));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(slurp(out), "earlier package");
  r = runWgtpack(args(out));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(slurp(out).substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_EQ(leftovers(out.parent_path()), std::vector<std::string>{});
}

}  // namespace
