// The half of the platform seam that needs no OS call, shared by both systems.
#include "platform.h"

namespace plat {

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    o.handle_ = -1;
  }
  return *this;
}

InputFile::InputFile(InputFile&& o) noexcept
    : handle_(o.handle_), size_(o.size_), left_(o.left_), mtime_(o.mtime_) {
  o.handle_ = -1;
}

InputFile& InputFile::operator=(InputFile&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_, size_ = o.size_, left_ = o.left_, mtime_ = o.mtime_;
    o.handle_ = -1;
  }
  return *this;
}

InputFile::~InputFile() { close(); }

}  // namespace plat
