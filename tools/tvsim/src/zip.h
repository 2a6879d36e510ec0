// A strict reader of ZIP packages as a TV opens them: central directory, stored or deflated
// entries, sizes and CRCs checked.
#pragma once

#include <map>
#include <stdexcept>
#include <string>

namespace tvsim {

struct ZipError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ZipContents {
  std::map<std::string, std::string> files;  // name -> bytes (directory entries left out)
};

// Throws ZipError naming the fault.
ZipContents readZip(const std::string& bytes);

}  // namespace tvsim
