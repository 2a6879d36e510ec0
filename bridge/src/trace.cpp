#include "trace.h"

#include <chrono>
#include <mutex>

#include "codec.h"
#include "platform.h"

namespace trace {

namespace {

constexpr std::size_t kDumpLimit = 256;

const std::string& traceFile() {
  static const std::string path = plat::getEnv("IU_TRACE");
  return path;
}

std::string stamp(std::string_view who) {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  std::string text = std::to_string(ms / 1000);
  text += '.';
  text += std::to_string(1000 + ms % 1000).substr(1);
  text += " [" + std::to_string(plat::processId()) + "] ";
  text += who;
  text += ": ";
  return text;
}

void write(const std::string& text) {
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  plat::appendToFile(traceFile(), text);
}

}  // namespace

bool enabled() { return !traceFile().empty(); }

std::string hexDump(std::string_view data, std::size_t limit) {
  std::string out;
  std::size_t n = data.size() < limit ? data.size() : limit;
  for (std::size_t off = 0; off < n; off += 16) {
    std::string hex = "  ", text;
    hex += wire::hexDigits(off, 4);
    hex += ' ';
    for (std::size_t i = off; i < off + 16; ++i) {
      if (i < n) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        hex += ' ';
        hex += wire::hexDigits(c, 2);
        text.push_back(c >= 0x20 && c < 0x7f ? char(c) : '.');
      } else {
        hex += "   ";
      }
    }
    out += hex + "  " + text + "\n";
  }
  if (n < data.size()) out += "  ... " + std::to_string(data.size() - n) + " more bytes\n";
  return out;
}

void bytes(std::string_view who, std::string_view what, std::string_view data) {
  if (!enabled()) return;
  write(stamp(who) + std::string(what) + " (" + std::to_string(data.size()) + " bytes)\n" + hexDump(data, kDumpLimit));
}

void note(std::string_view who, std::string_view what) {
  if (!enabled()) return;
  write(stamp(who) + std::string(what) + "\n");
}

}  // namespace trace
