// A strict reader of ZIP packages as a TV opens them: central directory, stored or deflated
// entries, local headers and data descriptors that agree with the central directory, records
// that neither overlap nor leave gaps, sizes and CRCs checked. Everything that can be checked on
// the headers is checked before anything is unpacked.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

namespace tvsim {

// What a TV unpacks at most: far above any widget, far below the memory of a TV.
constexpr std::uint32_t kMaxZipEntries = 4096;
constexpr std::uint64_t kMaxZipUnpacked = 64u << 20;  // bytes, all entries together

struct ZipError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ZipContents {
  std::map<std::string, std::string> files;  // name -> bytes (directory entries left out)
};

// Throws ZipError naming the fault.
ZipContents readZip(const std::string& bytes);

}  // namespace tvsim
