#include "console.h"

#include "platform.h"

namespace console {

void out(std::string_view text) { plat::writeStd(plat::StdStream::Out, text); }

void error(std::string_view lines) {
  plat::writeStd(plat::StdStream::Err, lines);
  static const bool toLog = plat::stdoutIsSeparateLog();
  if (toLog) plat::writeStd(plat::StdStream::Out, lines);
}

}  // namespace console
