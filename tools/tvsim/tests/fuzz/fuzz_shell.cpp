// libFuzzer target: how tvsim splits a shell service's text into statements and words.
#include <cstdint>
#include <string>

#include "tv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto program = tvsim::Tv::parseShell(std::string(reinterpret_cast<const char*>(data), size));
  if (program)
    for (const auto& statement : *program)
      if (statement.empty() || (statement[0] != "0" && statement[0] != "echo")) __builtin_trap();
  return 0;
}
