#include "tv.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tvsim {

namespace fs = std::filesystem;

namespace {

// Splits a statement into words: spaces separate, double quotes group.
std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  bool in = false, quoted = false;
  for (char c : s) {
    if (c == '"') {
      quoted = !quoted;
      in = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in) out.push_back(cur);
      cur.clear();
      in = false;
    } else {
      cur.push_back(c);
      in = true;
    }
  }
  if (in) out.push_back(cur);
  return out;
}

std::vector<std::string> statements(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(cur);
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The author key fingerprint of the foreign app: no certificate has it.
const std::string kForeignAuthor(64, '0');

// One field of a line of the installed-apps file: whatever a package's name holds, a line stays
// one app and a tab stays a separator.
std::string escapeField(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out.push_back(char(c));
    }
  }
  return out;
}

std::string unescapeField(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(char(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

Tv::Tv(Config c) : config_(std::move(c)) {
  fs::create_directories(fs::path(config_.stateDir) / "fs");
  if (const auto& id = config_.foreignApp) {
    auto apps = loadApps();
    if (std::none_of(apps.begin(), apps.end(), [&](const App& a) { return a.id == *id; })) {
      apps.push_back({.id = *id, .name = id->substr(id->find('.') + 1), .author = kForeignAuthor});
      saveApps(apps);
    }
  }
}

std::uint32_t Tv::maxPayload(std::uint32_t hostMax) const {
  std::uint32_t own = config_.generation == 2016 ? 4096 : 256 * 1024;
  return std::min(own, hostMax);
}

std::string Tv::uploadFolder() const {
  return config_.generation == 2016 ? "/opt/usr/apps/tmp" : "/home/owner/share/tmp/sdk_tools/tmp";
}

std::string Tv::capability() const {
  std::string s = "secure_protocol:enabled\nintershell_support:disabled\n";
  s += config_.generation == 2016 ? "filesync_support:push\n" : "filesync_support:pushpull\n";
  if (config_.generation != 2016) s += "sdk_toolpath:/home/owner/share/tmp/sdk_tools\n";
  s += "profile_name:tv\nvendor_name:Samsung\n";
  s += config_.generation == 2016 ? "platform_version:2.4\nsdbd_version:2.2.26\n"
                                  : "platform_version:5.0\nsdbd_version:2.2.31\n";
  return s;
}

std::optional<std::string> Tv::localPath(const std::string& tvPath, bool forWriting) const {
  if (tvPath.empty() || tvPath[0] != '/') return std::nullopt;
  fs::path p = fs::path(tvPath).lexically_normal();
  for (const auto& part : p)
    if (part == "..") return std::nullopt;
  if (forWriting) {
    std::string up = uploadFolder();
    std::string s = p.string();
    if (s != up && s.rfind(up + "/", 0) != 0) return std::nullopt;
  }
  return (fs::path(config_.stateDir) / "fs" / p.relative_path()).string();
}

std::optional<Program> Tv::parseShell(const std::string& text) {
  Program program;
  for (const auto& st : statements(text)) {
    auto w = words(st);
    if (w.empty()) continue;
    if (w[0] != "0" && w[0] != "echo") return std::nullopt;
    program.push_back(std::move(w));
  }
  if (program.empty()) return std::nullopt;
  return program;
}

void Tv::run(const Program& program, const Output& out) {
  std::lock_guard<std::mutex> lock(m_);
  int status = 0;
  for (auto& w : program) {
    if (w[0] == "echo") {
      std::string line;
      for (std::size_t i = 1; i < w.size(); ++i) {
        std::string a = w[i];
        for (std::size_t at; (at = a.find("$?")) != std::string::npos;) a.replace(at, 2, std::to_string(status));
        line += (i > 1 ? " " : "") + a;
      }
      out(line + "\n");
      status = 0;
    } else {
      status = command(w, out);
    }
  }
}

int Tv::command(const std::vector<std::string>& w, const Output& out) {
  const std::string cmd = w.size() > 1 ? w[1] : "";
  auto usage = [&](const char* args) {
    out("usage: 0 " + cmd + " " + args + "\n");
    return 1;
  };
  if (cmd == "getappinstallpath") {
    out(fs::path(uploadFolder()).parent_path().string() + "\n");
    return 0;
  }
  if (cmd == "vd_appinstall") return w.size() == 4 ? install(w[2], w[3], out) : usage("APPID PATH");
  if (cmd == "vd_appuninstall") return w.size() == 3 ? uninstall(w[2], out) : usage("APPID");
  if (cmd == "applist") return applist(out);
  if (cmd == "mkdir") {
    if (w.size() != 3) return usage("DIR");
    auto local = localPath(w[2], true);
    std::error_code ec;
    if (!local || (fs::create_directories(*local, ec), ec)) {
      out("mkdir: cannot create directory '" + w[2] + "': Permission denied\n");
      return 1;
    }
    return 0;
  }
  if (cmd == "rmfile") {
    if (w.size() != 3) return usage("PATH");
    auto local = localPath(w[2], true);
    std::error_code ec;
    if (!local || !fs::is_regular_file(*local) || !fs::remove(*local, ec)) {
      out("rmfile: cannot remove '" + w[2] + "'\n");
      return 1;
    }
    return 0;
  }
  out("0: unknown command '" + cmd + "'\n");
  return 127;
}

std::vector<Tv::App> Tv::loadApps() const {
  std::vector<App> apps;
  std::ifstream in(fs::path(config_.stateDir) / "apps.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string id, author, name;
    if (std::getline(s, id, '\t') && std::getline(s, author, '\t') && std::getline(s, name))
      apps.push_back({.id = unescapeField(id), .name = unescapeField(name), .author = unescapeField(author)});
  }
  return apps;
}

void Tv::saveApps(const std::vector<App>& apps) const {
  fs::path file = fs::path(config_.stateDir) / "apps.txt";
  {
    std::ofstream out(file.string() + ".new", std::ios::trunc);
    for (const auto& a : apps)
      out << escapeField(a.id) << '\t' << escapeField(a.author) << '\t' << escapeField(a.name) << '\n';
  }
  fs::rename(file.string() + ".new", file);
}

int Tv::install(const std::string& id, const std::string& path, const Output& out) {
  auto started = std::chrono::steady_clock::now();
  const std::string tag = "app_id[" + id + "] ";
  out("install " + id + "\npackage_path " + path + "\n" + tag + "install start\n");
  auto finish = [&](const std::string& line) {
    out(tag + line + "\n");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    out("spend time for wascmd is [" + std::to_string(ms.count()) + "]ms\n");
    return 0;  // the TV's shell reports success either way
  };
  auto certificateFailure = [&](int code) {
    return finish("install failed[118, -12], reason: Check certificate error : :" + certificateMessage(code) + ":<" +
                  std::to_string(code) + ">");
  };
  if (config_.installFailure) {
    int f = *config_.installFailure;
    if (f == 116) return finish("download failed[116]");
    if (f == 118) return finish("install failed[118]");
    if (f == -11) return finish("install failed[118, -11], reason: Author certificate not match :");
    return certificateFailure(f);
  }
  auto local = localPath(path, false);
  std::error_code ec;
  if (!local || !fs::is_regular_file(*local, ec)) return finish("install failed[118], reason: package file not found");
  PackageCheck check = checkPackage(readFile(*local), id, config_.trust);
  if (check.code == 118) return finish("install failed[118], reason: " + check.reason);
  if (check.code != 0) return certificateFailure(check.code);
  auto apps = loadApps();
  for (auto& a : apps)
    if (a.id == id && a.author != check.authorFingerprint)
      return finish("install failed[118, -11], reason: Author certificate not match :");
  // Progress about once a second, at least four lines, spread over the install duration: the
  // tool must see a long install as alive.
  const auto duration = config_.installDuration;
  const int steps = std::clamp(int((duration.count() + 999) / 1000), 4, 100);
  for (int i = 1; i <= steps; ++i) {
    std::this_thread::sleep_until(started + duration * i / steps);
    if (i == steps && !config_.faults.count(Fault::ForgetInstall)) {
      std::erase_if(apps, [&](const App& a) { return a.id == id; });
      apps.push_back({id, check.appName.empty() ? id : check.appName, check.authorFingerprint});
      saveApps(apps);
    }
    out(tag + "installing[" + std::to_string(100 * i / steps) + "]\n");
  }
  return finish("install completed");
}

int Tv::uninstall(const std::string& id, const Output& out) {
  auto started = std::chrono::steady_clock::now();
  const std::string tag = "app_id[" + id + "] ";
  out("uninstall " + id + "\n" + tag + "uninstall start\n");
  auto apps = loadApps();
  std::size_t before = apps.size();
  std::erase_if(apps, [&](const App& a) { return a.id == id; });
  if (apps.size() == before || id == config_.foreignApp) {
    out(tag + "uninstall failed[132]\n");
  } else {
    saveApps(apps);
    out(tag + "uninstall completed\n");
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  out("spend time for wascmd is [" + std::to_string(ms.count()) + "]ms\n");
  return 0;
}

int Tv::applist(const Output& out) {
  const std::string rule = "\t=================================================\r\n";
  out("\tApplication List for user 5001\r\n\tUser's Application \r\n\t Name \t AppID \r\n" + rule);
  // A name with line breaks or tabs must not make rows of its own.
  auto printable = [](std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }, ' ');
    return text;
  };
  for (const auto& a : loadApps()) out("\t'" + printable(a.name) + "'\t '" + printable(a.id) + "'\r\n");
  out(rule);
  return 0;
}

}  // namespace tvsim
