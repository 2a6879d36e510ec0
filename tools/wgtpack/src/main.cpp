// wgtpack: packs and signs the Velmora widget.
//
//   wgtpack --src DIR --author P12 --author-pass SPEC --distributor P12 --distributor-pass SPEC
//           --portal-url URL --widget-host HOST --author-href URL --author-email ADDR
//           [--mtime YYYY-MM-DDTHH:MM:SS] -o OUTPUT.wgt
//
// SPEC is pass:TEXT, env:VARIABLE or file:PATH (first line), as with openssl's -passin.
// The one modification time of all entries is --mtime, else SOURCE_DATE_EPOCH; never the clock,
// so that the same inputs always give the same bytes.
#include "credentials.h"
#include "error.h"
#include "output_file.h"
#include "package.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

namespace {

using wgtpack::Error;

const char* kUsage =
    "usage: wgtpack --src DIR --author P12 --author-pass SPEC --distributor P12 --distributor-pass SPEC\n"
    "               --portal-url URL --widget-host HOST --author-href URL --author-email ADDR\n"
    "               [--mtime YYYY-MM-DDTHH:MM:SS] -o OUTPUT.wgt\n"
    "SPEC: pass:TEXT | env:VARIABLE | file:PATH\n"
    "Without --mtime the entries' time comes from SOURCE_DATE_EPOCH.\n";

std::string password(const std::string& spec, const std::string& option) {
  if (spec.rfind("pass:", 0) == 0) return spec.substr(5);
  if (spec.rfind("env:", 0) == 0) {
    const char* v = std::getenv(spec.substr(4).c_str());
    if (!v) throw Error(option + ": environment variable '" + spec.substr(4) + "' is not set");
    return v;
  }
  if (spec.rfind("file:", 0) == 0) {
    const wgtpack::Bytes raw = wgtpack::readFile(spec.substr(5), "password file");
    std::string text(raw.begin(), raw.end());
    const auto eol = text.find_first_of("\r\n");
    return eol == std::string::npos ? text : text.substr(0, eol);
  }
  throw Error(option + " must be pass:TEXT, env:VARIABLE or file:PATH");
}

int run(int argc, char** argv) {
  static const char* known[] = {"--src",
                                "--author",
                                "--author-pass",
                                "--distributor",
                                "--distributor-pass",
                                "--portal-url",
                                "--widget-host",
                                "--author-href",
                                "--author-email",
                                "--mtime",
                                "-o"};
  std::map<std::string, std::string> opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    }
    bool ok = false;
    for (const char* k : known) ok = ok || a == k;
    if (!ok) throw Error("unknown option '" + a + "'\n" + kUsage);
    if (i + 1 >= argc) throw Error("option " + a + " needs a value");
    if (opt.count(a)) throw Error("option " + a + " given twice");
    opt[a] = argv[++i];
  }
  for (const char* k : known)
    if (std::string(k) != "--mtime" && !opt.count(k)) throw Error(std::string("missing option ") + k + "\n" + kUsage);

  wgtpack::DosTime when;
  if (opt.count("--mtime")) {
    when = wgtpack::parseDosTime(opt["--mtime"]);
  } else if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    when = wgtpack::dosTimeFromEpoch(epoch);
  } else {
    throw Error("no modification time: give --mtime or set SOURCE_DATE_EPOCH");
  }

  wgtpack::Settings settings;
  settings.portalUrl = opt["--portal-url"];
  settings.widgetHost = opt["--widget-host"];
  settings.authorHref = opt["--author-href"];
  settings.authorEmail = opt["--author-email"];
  wgtpack::validate(settings);

  const auto author = wgtpack::loadPkcs12(opt["--author"], password(opt["--author-pass"], "--author-pass"), "author");
  const auto distributor = wgtpack::loadPkcs12(
      opt["--distributor"], password(opt["--distributor-pass"], "--distributor-pass"), "distributor");

  const wgtpack::Bytes package = wgtpack::buildPackage(opt["--src"], settings, author, distributor, when);
  wgtpack::writeFileAtomically(opt["-o"], package);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "wgtpack: " << e.what() << "\n";
    return 1;
  }
}
