// libFuzzer target: tvsim's ZIP reader, fed arbitrary packages.
#include <cstdint>
#include <string>

#include "zip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    tvsim::readZip(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const tvsim::ZipError&) {
  }
  return 0;
}
