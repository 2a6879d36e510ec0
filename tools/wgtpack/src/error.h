// wgtpack reports every failure as one of these: a message that names the file and the cause.
#pragma once

#include <stdexcept>
#include <string>

namespace wgtpack {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what) : std::runtime_error(what) {}
};

// The text of the oldest error on OpenSSL's queue (the root cause), then the queue is cleared.
std::string opensslError();

}  // namespace wgtpack
