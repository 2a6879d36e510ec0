#include "Diagnosis.h"

#include <algorithm>

using namespace vcl;

namespace {

bool Has(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

// The log's lines without their line ends; older firmware puts blank lines between them.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The device lines of `devices`: serial, tab, state padded, tab, model.
bool ListedLocked(const std::string& devices) {
  for (const std::string& line : Lines(devices)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos && line.compare(tab + 1, 6, "locked") == 0) return true;
  }
  return false;
}

// "app_id[ID] install failed[118, -11], reason: ..." and "... :<-7>": the TV's error code.
TCause InstallFailure(const std::string& install) {
  for (const std::string& line : Lines(install)) {
    if (Has(line, "download failed[116]")) return TCause::NoSpace;
    size_t failed = line.find("install failed[");
    if (failed == std::string::npos) continue;
    if (Has(line, ", -11]")) return TCause::AuthorMismatch;
    if (Has(line, "<-7>")) return TCause::ClockWrong;
    if (Has(line, ", -12]") || Has(line, "<-")) return TCause::PackageDamaged;
    return TCause::Unknown;
  }
  return TCause::None;
}

}  // namespace

TCause Diagnose(const TStepLogs& logs, const std::string& appId) {
  if (!Has(logs.connect, "connected to ") && !Has(logs.connect, " is already connected")) return TCause::NotConnected;
  TCause failure = InstallFailure(logs.install);
  bool completed = Has(logs.install, ("app_id[" + appId + "] install completed").c_str());
  // Some TVs refuse the list; only a list that is there and lacks the widget tells.
  bool kept = !Has(logs.applist, "Application List") || Has(logs.applist, ("'" + appId + "'").c_str());
  if (completed && failure == TCause::None && kept) return TCause::None;
  if (ListedLocked(logs.devices)) return TCause::Locked;
  // The upload folder of the other TV generation is missing, or not ours to write.
  if (!Has(logs.push, " file(s) pushed.") &&
      (Has(logs.push, "No such file or directory") || Has(logs.push, "Permission denied") ||
       Has(logs.push, "Read-only file system")))
    return TCause::WrongSeries;
  if (failure != TCause::None) return failure;
  return completed ? TCause::NotKept : TCause::Unknown;
}

TCause DiagnoseNotConnected(const TTvInfo& info, const std::vector<String>& pcAddresses) {
  switch (info.kind) {
    case TTvInfo::TKind::NoAnswer: return TCause::TvUnreachable;
    case TTvInfo::TKind::Unknown: return TCause::NoConnection;
    case TTvInfo::TKind::Answered: break;
  }
  if (!info.developerMode) return TCause::DeveloperModeOff;
  bool ours = info.developerIp == info.localAddress ||
              std::find(pcAddresses.begin(), pcAddresses.end(), info.developerIp) != pcAddresses.end();
  return ours ? TCause::NotInEffect : TCause::OtherHostPc;
}
