#include "package.h"

#include "error.h"
#include "signature.h"
#include "widget_config.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <regex>

namespace wgtpack {
namespace {

// Files whose text gets the settings. The icon is binary and is stored as it is.
bool isTemplate(const std::string& path) {
  return path == "config.xml" || path == "main.js" || path == "index.html" || path == "css/style.css";
}

bool matches(const std::string& s, const char* pattern) { return std::regex_match(s, std::regex(pattern)); }

}  // namespace

void validate(const Settings& s) {
  // The portal URL ends up in a JavaScript string and in a query value that main.js splits at
  // "&", "=" and keeps "#": so no quotes, no query, no fragment, no escapes.
  if (!matches(s.portalUrl, R"(https?://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?/([A-Za-z0-9._~-]+/)*)"))
    throw Error("portal URL '" + s.portalUrl +
                "' must be an absolute http or https URL that ends in \"/\", made of letters, digits and "
                ". _ ~ - / only (no query, fragment, percent escape or quote)");
  if (!matches(s.widgetHost, R"([A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?)"))
    throw Error("widget id host '" + s.widgetHost + "' must be a host name of letters, digits, '.' and '-'");
  if (!matches(s.authorHref, R"(https?://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?(/[A-Za-z0-9._~/%-]*)?)"))
    throw Error("author web site '" + s.authorHref +
                "' must be an absolute http or https URL of letters, digits and . _ ~ - / % only");
  if (!matches(s.authorEmail, R"([A-Za-z0-9._+-]+@[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?)"))
    throw Error("author e-mail address '" + s.authorEmail + "' must look like name@host");
}

std::map<std::string, std::string> placeholders(const Settings& s) {
  return {
      {"PORTAL_URL", s.portalUrl},
      {"WIDGET_HOST", s.widgetHost},
      {"AUTHOR_HREF", s.authorHref},
      {"AUTHOR_EMAIL", s.authorEmail},
  };
}

std::string substitute(const std::string& text, const std::map<std::string, std::string>& values,
                       const std::string& file) {
  static const std::regex token(R"(@([A-Z][A-Z0-9_]*)@)");
  std::string out;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), token), end; it != end; ++it) {
    const std::string name = (*it)[1].str();
    auto v = values.find(name);
    if (v == values.end()) throw Error("source file '" + file + "' has an unknown placeholder @" + name + "@");
    out.append(last, (*it)[0].first);
    out += v->second;
    last = (*it)[0].second;
  }
  out.append(last, text.cend());
  return out;
}

namespace {

DosTime makeDosTime(int year, int month, int day, int hour, int minute, int second, const std::string& text) {
  static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 ||
      day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
    throw Error("modification time '" + text + "' is not a date and time between 1980 and 2107");
  if (second % 2 != 0) throw Error("modification time '" + text + "' has odd seconds; ZIP times go in 2-second steps");
  DosTime t;
  t.date = static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
  t.time = static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
  return t;
}

}  // namespace

DosTime parseDosTime(const std::string& text) {
  std::smatch m;
  static const std::regex form(R"(([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2}))");
  if (!std::regex_match(text, m, form))
    throw Error("modification time '" + text + "' must be written YYYY-MM-DDTHH:MM:SS");
  auto n = [&](int i) { return std::stoi(m[i].str()); };
  return makeDosTime(n(1), n(2), n(3), n(4), n(5), n(6), text);
}

DosTime dosTimeFromEpoch(const std::string& epoch) {
  long long seconds = 0;
  auto [end, ec] = std::from_chars(epoch.data(), epoch.data() + epoch.size(), seconds);
  if (epoch.empty() || ec != std::errc() || end != epoch.data() + epoch.size() || seconds < 0)
    throw Error("SOURCE_DATE_EPOCH '" + epoch + "' is not a number of seconds");
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) throw Error("SOURCE_DATE_EPOCH '" + epoch + "' is out of range");
  // ZIP times go in 2-second steps: round down, as every zip tool does with a real clock.
  return makeDosTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec & ~1,
                     "SOURCE_DATE_EPOCH=" + epoch);
}

const std::vector<std::string>& packageEntries() {
  static const std::vector<std::string> entries = {
      "css/", "config.xml", "main.js", "index.html", "wgt_ico.png", "css/style.css",
  };
  return entries;
}

Bytes buildPackage(const std::string& srcDir, const Settings& settings, const Credentials& author,
                   const Credentials& distributor, DosTime when) {
  validate(settings);
  const auto values = placeholders(settings);

  std::vector<ZipEntry> entries;
  std::vector<SignedFile> signedFiles;
  for (const std::string& name : packageEntries()) {
    if (name.back() == '/') {
      entries.push_back({name, {}});
      continue;
    }
    const std::string path = srcDir + "/" + name;
    Bytes data = readFile(path, "source file");
    if (isTemplate(name)) data = toBytes(substitute(std::string(data.begin(), data.end()), values, path));
    if (name == "config.xml") checkWidgetConfig(std::string(data.begin(), data.end()), path);
    entries.push_back({name, data});
    signedFiles.push_back({name, std::move(data)});
  }

  // References go in ascending order of path, not in archive order.
  std::sort(signedFiles.begin(), signedFiles.end(),
            [](const SignedFile& a, const SignedFile& b) { return a.path < b.path; });

  const std::string authorSig = makeSignature(Role::Author, signedFiles, author);
  // The distributor signs after the author and covers the author signature first.
  signedFiles.insert(signedFiles.begin(), SignedFile{"author-signature.xml", toBytes(authorSig)});
  const std::string distributorSig = makeSignature(Role::Distributor, signedFiles, distributor);

  entries.push_back({"author-signature.xml", toBytes(authorSig)});
  entries.push_back({"signature1.xml", toBytes(distributorSig)});
  return writeZip(entries, when);
}

}  // namespace wgtpack
